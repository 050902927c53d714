// The real main window, built in this process: what it looks like, what its
// commands do and how the loop ends.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/CaptureState.h"
#include "app/DestinationDialog.h"
#include "app/MainWindow.h"
#include "app/Skelby.h"
#include "capture/RecordingControl.h"
#include "capture/WindowList.h"
#include "movie/OffscreenFrame.h"
#include "platform/DpiFunctions.h"
#include "platform/ProgramFolder.h"
#include "platform/QuickTimeEnvironment.h"
#include "resource.h"

namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls = {8, 0xFF};
    InitCommonControlsEx(&controls);
    // Once per program: the suites below share the class.
    WNDCLASSA registered;
    if (GetClassInfoA(GetModuleHandleA(nullptr), kMainWindowClass, &registered)) return;
    ASSERT_TRUE(registerMainWindowClass(GetModuleHandleA(nullptr)));
  }

  void SetUp() override {
    captureState = CaptureState{};
    window = createMainWindow(GetModuleHandleA(nullptr));
    ASSERT_NE(window, nullptr);
    createControls(window);
    refreshWindowList();
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    pumpMessages();
  }

  void TearDown() override {
    if (IsWindow(window)) DestroyWindow(window);
    // Drop the quit message that the destroyed window posted.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    captureState = CaptureState{};
  }

  void command(int id, int notification = 0, HWND from = nullptr) {
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, notification), reinterpret_cast<LPARAM>(from));
  }

  std::vector<std::string> listedTitles() {
    std::vector<std::string> titles;
    const int count = static_cast<int>(SendMessageA(captureState.listBox, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      char text[512] = "";
      SendMessageA(captureState.listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
      titles.push_back(text);
    }
    return titles;
  }

  bool listed(const std::string& title) {
    for (const auto& t : listedTitles()) {
      if (t == title) return true;
    }
    return false;
  }

  // Selects a title as a user's click would and tells the window.
  void select(const std::string& title, int notification = LBN_SELCHANGE) {
    LRESULT index =
        SendMessageA(captureState.listBox, LB_FINDSTRINGEXACT, -1, reinterpret_cast<LPARAM>(title.c_str()));
    ASSERT_NE(index, LB_ERR) << title << " is not listed";
    SendMessageA(captureState.listBox, LB_SETCURSEL, index, 0);
    command(IDC_WINDOWLIST, notification, captureState.listBox);
  }

  HWND window = nullptr;
};

// A plain top-level window of this process to be listed, or not.
HWND makeWindow(const char* title, int w, int h, bool visible) {
  HWND t = CreateWindowExA(0, "STATIC", title, WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0), 400, 100, w,
                           h, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  pumpMessages();
  return t;
}

struct ExpectedControl {
  const char* className;
  const char* text;
  DWORD style;  // beyond WS_CHILD | WS_VISIBLE
  DWORD exStyle;
  RECT rect;  // left, top, right, bottom in client pixels
  int id;
};

TEST_F(MainWindowTest, WindowHasItsClassTitleStyleAndSize) {
  EXPECT_EQ(className(window), "Grabbing an app");
  EXPECT_EQ(windowText(window), "Skelby");
  const DWORD style = GetWindowLongA(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
            DWORD(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_CHILD | WS_POPUP), 0u);
  // The system adds the window edge to every captioned window by itself.
  EXPECT_EQ(GetWindowLongA(window, GWL_EXSTYLE) & ~WS_EX_WINDOWEDGE, 0);
  RECT r;
  GetWindowRect(window, &r);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right - r.left, 275);
  EXPECT_EQ(r.bottom - r.top, 380);
  EXPECT_EQ(GetParent(window), nullptr);

  WNDCLASSA wc;
  ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "Grabbing an app", &wc));
  EXPECT_EQ(wc.style, 0u);
  EXPECT_EQ(wc.cbClsExtra, 0);
  EXPECT_EQ(wc.cbWndExtra, 0);
  EXPECT_NE(wc.hIcon, nullptr);
  EXPECT_EQ(wc.hCursor, LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_STREQ(wc.lpszMenuName, "MENUMAINBARQT");
}

TEST_F(MainWindowTest, EveryControlIsWhereItBelongs) {
  const ExpectedControl expected[] = {
      {"msctls_statusbar32", "idle", 0, 0, {}, 1000},
      {"ListBox", "listbox", WS_BORDER | LBS_NOTIFY | LBS_SORT, WS_EX_CLIENTEDGE, {10, 10, 260, 160}, 987},
      {"Button", "Refresh", BS_PUSHBUTTON, 0, {200, 165, 260, 185}, 988},
      {"Button", "...", BS_PUSHBUTTON, 0, {220, 290, 260, 310}, 1002},
      {"Button", "Grab", BS_PUSHBUTTON, 0, {200, 210, 260, 260}, 989},
      {"Button", "Capture Borders", BS_AUTOCHECKBOX, 0, {10, 190, 190, 205}, 1003},
      {"Button", "Capture Cursor", BS_AUTOCHECKBOX, 0, {10, 210, 190, 225}, 1005},
      {"Static", "Window Size : 640x480", 0, WS_EX_CLIENTEDGE, {10, 165, 190, 183}, 1001},
      {"Static", "c:\\grabbed.mov", 0, WS_EX_CLIENTEDGE, {10, 290, 210, 308}, -1},
      {"Static", "Width:", 0, 0, {10, 230, 70, 243}, -1},
      {"Edit", "640", ES_NUMBER | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, {10, 245, 70, 263}, 137},
      {"Static", "Height:", 0, 0, {90, 230, 150, 243}, -1},
      {"Edit", "480", ES_NUMBER | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, {90, 245, 150, 263}, 136},
      {"Button", "Pause", BS_PUSHBUTTON | WS_DISABLED, 0, {200, 265, 260, 285}, 990},
  };
  std::vector<HWND> children;
  for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
  ASSERT_EQ(children.size(), std::size(expected));
  const HGDIOBJ guiFont = GetStockObject(DEFAULT_GUI_FONT);
  for (size_t i = 0; i < children.size(); ++i) {
    HWND c = children[i];
    const ExpectedControl& e = expected[i];
    SCOPED_TRACE(std::string("control ") + std::to_string(i) + " " + e.text);
    EXPECT_STRCASEEQ(className(c).c_str(), e.className);
    EXPECT_EQ(GetDlgCtrlID(c), e.id);
    const DWORD style = GetWindowLongA(c, GWL_STYLE);
    EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE), DWORD(WS_CHILD | WS_VISIBLE));
    EXPECT_EQ(style & e.style, e.style);
    EXPECT_EQ(GetWindowLongA(c, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, LONG(e.exStyle & WS_EX_CLIENTEDGE));
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(SendMessageA(c, WM_GETFONT, 0, 0)), guiFont);
    if (i == 0) {
      char text[64] = "";
      SendMessageA(c, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
      EXPECT_STREQ(text, "idle");
      continue;
    }
    EXPECT_EQ(windowText(c), e.text);
    const RECT r = childRect(c);
    EXPECT_EQ(r.left, e.rect.left);
    EXPECT_EQ(r.top, e.rect.top);
    EXPECT_EQ(r.right, e.rect.right);
    EXPECT_EQ(r.bottom, e.rect.bottom);
  }
  // The list shows its scroll bar once it holds more than it can show.
  for (int i = 0; i < 40; ++i) SendMessageA(children[1], LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("entry"));
  EXPECT_TRUE(GetWindowLongA(children[1], GWL_STYLE) & WS_VSCROLL);
  // Buttons that are push buttons, not default ones, and boxes start clear.
  EXPECT_EQ(GetWindowLongA(children[4], GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
  EXPECT_EQ(IsDlgButtonChecked(window, IDC_CAPTUREBORDERS), BST_UNCHECKED);
  EXPECT_EQ(IsDlgButtonChecked(window, IDC_CAPTURECURSOR), BST_UNCHECKED);
  // The handles the rest of the program uses.
  EXPECT_EQ(captureState.mainWindow, window);
  EXPECT_EQ(captureState.statusBar, children[0]);
  EXPECT_EQ(captureState.listBox, children[1]);
  EXPECT_EQ(captureState.grabButton, children[4]);
  EXPECT_EQ(captureState.sizeLabel, children[7]);
  EXPECT_EQ(captureState.destinationLabel, children[8]);
  EXPECT_EQ(captureState.widthField, children[10]);
  EXPECT_EQ(captureState.heightField, children[12]);
  // The stored size starts as the fields show it.
  EXPECT_EQ(captureState.outputWidth, 640);
  EXPECT_EQ(captureState.outputHeight, 480);
}

// How much of a control's text its font needs, in pixels.
SIZE textExtent(HWND control) {
  const std::string text = windowText(control);
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
  SIZE size = {};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  TEXTMETRICA metrics = {};
  GetTextMetricsA(dc, &metrics);
  size.cy = metrics.tmHeight;
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size;
}

// The window told that its monitor now runs at another scaling, as the
// system tells it: every control placed and lettered for that DPI, each text
// whole inside its control, no control over another, and back at 100% the
// layout of 100% again.
TEST_F(MainWindowTest, EveryScalingKeepsTheLayoutWithNoTextCutOrCovered) {
  // Sent as the system sends it: asked for its size at dpi, then told.
  const auto moveTo = [this](int dpi) {
    SIZE size = {};
    EXPECT_TRUE(SendMessageA(window, 0x02E4 /* WM_GETDPISCALEDSIZE */, dpi, reinterpret_cast<LPARAM>(&size)));
    RECT suggested = {30, 20, 30 + size.cx, 20 + size.cy};
    SendMessageA(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    pumpMessages();
    return size;
  };
  // A session whose screen runs at another scaling starts the window there.
  moveTo(96);
  std::vector<HWND> children;
  for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
  std::vector<RECT> at96;
  for (HWND c : children) at96.push_back(childRect(c));
  RECT client96 = {};
  GetClientRect(window, &client96);
  // The stock font is made for the system's DPI; the window's font is it,
  // scaled from there.
  LOGFONTA stockFont = {};
  GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof stockFont, &stockFont);
  const int stockDpi = static_cast<int>(systemDpi());
  for (int dpi : {120, 144, 192, 96}) {
    SCOPED_TRACE("at " + std::to_string(dpi) + " dpi");
    const SIZE size = moveTo(dpi);
    if (dpi == 96) {
      EXPECT_EQ(size.cx, 275);
      EXPECT_EQ(size.cy, 380);
    }
    // As wide as the client area of 100%, scaled; its height is checked
    // below against the controls and the status bar, whose height is the
    // system's.
    RECT inside = {};
    GetClientRect(window, &inside);
    EXPECT_EQ(inside.right, MulDiv(client96.right, dpi, 96));
    // Where the system suggested; at 100% at its size of 100%. Elsewhere
    // the size is fitted to the frame the system really draws, which a
    // test that only tells the window of another DPI does not change.
    RECT placed = {};
    GetWindowRect(window, &placed);
    EXPECT_EQ(placed.left, 30);
    EXPECT_EQ(placed.top, 20);
    if (dpi == 96 && windowDpi(window) == 96) {
      EXPECT_EQ(placed.right - placed.left, 275);
      EXPECT_EQ(placed.bottom - placed.top, 380);
    }
    RECT client = {};
    GetClientRect(window, &client);
    const RECT status = childRect(children[0]);
    int lowest = 0;
    for (size_t i = 1; i < children.size(); ++i) {
      HWND c = children[i];
      SCOPED_TRACE(windowText(c));
      const RECT r = childRect(c);
      // A caption may grow upward to its font's height; a list box keeps
      // to whole lines of its font, so it may end above its place (at 100%
      // too, once it has had another font).
      EXPECT_EQ(r.left, MulDiv(at96[i].left, dpi, 96));
      EXPECT_EQ(r.right, MulDiv(at96[i].right, dpi, 96));
      EXPECT_LE(r.top, MulDiv(at96[i].top, dpi, 96));
      if (dpi == 96 && i != 1) {
        // Back at 100%, exactly the layout of 100%.
        EXPECT_EQ(r.top, at96[i].top);
        EXPECT_EQ(r.bottom, at96[i].bottom);
      } else if (i == 1) {
        EXPECT_LE(r.bottom, MulDiv(at96[i].bottom, dpi, 96));
        EXPECT_GE(r.bottom, MulDiv(at96[i].bottom - 20, dpi, 96));
      } else {
        EXPECT_EQ(r.bottom, MulDiv(at96[i].bottom, dpi, 96));
      }
      LOGFONTA font = {};
      GetObjectA(reinterpret_cast<HGDIOBJ>(SendMessageA(c, WM_GETFONT, 0, 0)), sizeof font, &font);
      EXPECT_EQ(font.lfHeight, MulDiv(stockFont.lfHeight, dpi, stockDpi));
      EXPECT_LE(r.right, client.right) << "beyond the window's edge";
      lowest = std::max<int>(lowest, r.bottom);
      for (size_t j = 1; j < i; ++j) {
        RECT overlap = {};
        const RECT other = childRect(children[j]);
        EXPECT_FALSE(IntersectRect(&overlap, &r, &other)) << "covers " << windowText(children[j]);
      }
      // The text against the room inside the control: a check box's box and
      // gap, a button's edges, a static's client area.
      RECT inside = {};
      GetClientRect(c, &inside);
      const SIZE text = textExtent(c);
      const std::string cls = className(c);
      const LONG style = GetWindowLongA(c, GWL_STYLE) & BS_TYPEMASK;
      int room = inside.right;
      if (cls == "Button" && style == BS_AUTOCHECKBOX) {
        room -= MulDiv(GetSystemMetrics(SM_CXMENUCHECK), dpi, stockDpi) + MulDiv(4, dpi, 96);
      } else if (cls == "Button") {
        room -= MulDiv(2 * 3, dpi, 96);
      }
      if (cls == "ListBox") continue;
      EXPECT_LE(text.cx, room) << "the text is cut";
      EXPECT_LE(text.cy, inside.bottom) << "the text is cut";
    }
    EXPECT_LE(lowest, status.top) << "the status bar covers a control; client " << client.bottom
                                  << ", status bar " << status.bottom - status.top;
    EXPECT_EQ(status.bottom, client.bottom);
    EXPECT_GE(status.bottom - status.top, textExtent(children[0]).cy);
  }
  // Where the stock font is made for 100%, it is the font there again.
  if (stockDpi == 96) {
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(SendMessageA(children[1], WM_GETFONT, 0, 0)),
              GetStockObject(DEFAULT_GUI_FONT));
  }
}

TEST_F(MainWindowTest, MenuHasItsItemsAndIds) {
  HMENU bar = GetMenu(window);
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ(GetMenuItemCount(bar), 2);
  struct Item {
    const char* text;
    int id;  // 0: separator
  };
  const std::vector<std::pair<std::string, std::vector<Item>>> expected = {
      {"&Misc",
       {{"&Grab\tCtrl+Alt+F9", 989},
        {"&Pause\tCtrl+Alt+F10", 990},
        {nullptr, 0},
        {"&Settings", 999},
        {nullptr, 0},
        {"&Exit", 162}}},
      {"&About", {{"&Help", 166}, {nullptr, 0}, {"&About", 167}}},
  };
  for (int p = 0; p < 2; ++p) {
    char text[64] = "";
    GetMenuStringA(bar, p, text, sizeof text, MF_BYPOSITION);
    EXPECT_EQ(text, expected[p].first);
    HMENU popup = GetSubMenu(bar, p);
    ASSERT_NE(popup, nullptr);
    const auto& items = expected[p].second;
    ASSERT_EQ(GetMenuItemCount(popup), static_cast<int>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
      MENUITEMINFOA info = {};
      char itemText[64] = "";
      info.cbSize = sizeof info;
      info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
      info.dwTypeData = itemText;
      info.cch = sizeof itemText;
      ASSERT_TRUE(GetMenuItemInfoA(popup, static_cast<UINT>(i), TRUE, &info));
      if (!items[i].text) {
        EXPECT_TRUE(info.fType & MFT_SEPARATOR) << "item " << i;
        continue;
      }
      EXPECT_STREQ(itemText, items[i].text);
      EXPECT_EQ(static_cast<int>(info.wID), items[i].id);
    }
  }
}

TEST_F(MainWindowTest, ListHoldsOnlyVisibleTitledWindowsWithArea) {
  HWND target = makeWindow("Skelby test target", 200, 150, true);
  HWND hidden = makeWindow("Skelby hidden window", 200, 150, false);
  HWND untitled = makeWindow("", 200, 150, true);
  // A captioned window has a least size; a pop-up can be really empty.
  HWND flat = CreateWindowExA(0, "STATIC", "Skelby zero-sized window", WS_POPUP | WS_VISIBLE, 50, 50, 0, 0,
                              nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  command(IDC_REFRESH);

  EXPECT_TRUE(listed("Skelby test target"));
  EXPECT_TRUE(listed("Skelby"));  // the main window itself can be recorded
  EXPECT_FALSE(listed("Skelby hidden window"));
  EXPECT_FALSE(listed("Skelby zero-sized window"));
  EXPECT_FALSE(listed(""));
  // Sorted, as the list box keeps them.
  auto titles = listedTitles();
  for (size_t i = 1; i < titles.size(); ++i)
    EXPECT_LE(lstrcmpiA(titles[i - 1].c_str(), titles[i].c_str()), 0);

  // Refresh replaces the entries instead of adding to them.
  const size_t before = titles.size();
  command(IDC_REFRESH);
  EXPECT_EQ(listedTitles().size(), before);

  // Two windows of one title are two entries.
  HWND twin = makeWindow("Skelby test target", 100, 100, true);
  command(IDC_REFRESH);
  EXPECT_EQ(listedTitles().size(), before + 1);

  for (HWND w : {target, hidden, untitled, flat, twin}) DestroyWindow(w);
}

TEST_F(MainWindowTest, LongTitlesAreCutAt299CharactersAndStillFound) {
  const std::string title(400, 'T');
  HWND target = makeWindow((title.substr(0, 350)).c_str(), 210, 160, true);
  command(IDC_REFRESH);
  const std::string cut(299, 'T');
  EXPECT_TRUE(listed(cut));
  select(cut);
  EXPECT_EQ(std::string(captureState.targetTitle), cut);
  RECT client;
  GetClientRect(target, &client);
  EXPECT_EQ(captureState.sourceWidth, client.right);
  EXPECT_EQ(findWindowByTitle(cut.c_str()), target);
  DestroyWindow(target);
}

TEST_F(MainWindowTest, ProbeShowsClientOrWindowSize) {
  HWND target = makeWindow("Skelby probe target", 230, 170, true);
  command(IDC_REFRESH);
  RECT client, outer;
  GetClientRect(target, &client);
  GetWindowRect(target, &outer);
  ASSERT_NE(client.right, outer.right - outer.left);  // a frame makes them differ

  select("Skelby probe target");
  char expected[64];
  snprintf(expected, sizeof expected, "Client Size : %dx%d", int(client.right), int(client.bottom));
  EXPECT_EQ(windowText(captureState.sizeLabel), expected);
  EXPECT_EQ(captureState.sourceWidth, client.right);
  EXPECT_EQ(captureState.sourceHeight, client.bottom);
  // A single click does not touch the fields or the output size.
  EXPECT_EQ(windowText(captureState.widthField), "640");
  EXPECT_EQ(captureState.outputWidth, 640);

  CheckDlgButton(window, IDC_CAPTUREBORDERS, BST_CHECKED);
  // Ticked from the program, the box sends no click and nothing is probed.
  EXPECT_EQ(windowText(captureState.sizeLabel), expected);
  select("Skelby probe target");
  char outerText[64];
  snprintf(outerText, sizeof outerText, "Window Size : %dx%d", int(outer.right - outer.left),
           int(outer.bottom - outer.top));
  EXPECT_EQ(windowText(captureState.sizeLabel), outerText);
  EXPECT_EQ(captureState.sourceWidth, outer.right - outer.left);
  EXPECT_EQ(captureState.sourceHeight, outer.bottom - outer.top);

  // A user's click on the box shows the size in the mode it now has.
  CheckDlgButton(window, IDC_CAPTUREBORDERS, BST_UNCHECKED);
  command(IDC_CAPTUREBORDERS, BN_CLICKED);
  EXPECT_EQ(windowText(captureState.sizeLabel), expected);
  EXPECT_EQ(captureState.sourceWidth, client.right);
  // While grabbing it changes the label, not the recorded rectangle.
  captureState.grabbing = 1;
  CheckDlgButton(window, IDC_CAPTUREBORDERS, BST_CHECKED);
  command(IDC_CAPTUREBORDERS, BN_CLICKED);
  EXPECT_EQ(windowText(captureState.sizeLabel), outerText);
  EXPECT_EQ(captureState.sourceWidth, client.right);
  EXPECT_EQ(captureState.sourceHeight, client.bottom);
  captureState.grabbing = 0;
  DestroyWindow(target);
}

TEST_F(MainWindowTest, DoubleClickFillsFieldsAndOutputSizeOnlyWhileIdle) {
  HWND target = makeWindow("Skelby double-click target", 250, 190, true);
  command(IDC_REFRESH);
  RECT client;
  GetClientRect(target, &client);

  select("Skelby double-click target", LBN_DBLCLK);
  EXPECT_EQ(windowText(captureState.widthField), std::to_string(client.right));
  EXPECT_EQ(windowText(captureState.heightField), std::to_string(client.bottom));
  EXPECT_EQ(captureState.outputWidth, client.right);
  EXPECT_EQ(captureState.outputHeight, client.bottom);

  // While grabbing the fields follow the probe but the output size and the
  // recorded rectangle stay.
  const int32_t recordedWidth = captureState.sourceWidth;
  captureState.grabbing = 1;
  captureState.outputWidth = 111;
  captureState.outputHeight = 99;
  SetWindowPos(target, nullptr, 0, 0, 300, 220, SWP_NOMOVE | SWP_NOZORDER);
  GetClientRect(target, &client);
  select("Skelby double-click target", LBN_DBLCLK);
  EXPECT_EQ(windowText(captureState.widthField), std::to_string(client.right));
  EXPECT_EQ(captureState.outputWidth, 111);
  EXPECT_EQ(captureState.outputHeight, 99);
  EXPECT_EQ(captureState.sourceWidth, recordedWidth);
  EXPECT_NE(captureState.sourceWidth, client.right);
  DestroyWindow(target);
}

TEST_F(MainWindowTest, SizeFieldsTakeDigitsOnlyAndEmptyReadsZero) {
  HWND width = captureState.widthField;
  SetWindowTextA(width, "");
  EXPECT_EQ(captureState.outputWidth, 0);
  SendMessageA(width, WM_CHAR, 'x', 0);
  SendMessageA(width, WM_CHAR, '-', 0);
  EXPECT_EQ(windowText(width), "");
  SendMessageA(width, WM_CHAR, '7', 0);
  SendMessageA(width, WM_CHAR, 'a', 0);
  SendMessageA(width, WM_CHAR, '2', 0);
  EXPECT_EQ(windowText(width), "72");
  EXPECT_EQ(captureState.outputWidth, 72);
  SetWindowTextA(captureState.heightField, "480");
  EXPECT_EQ(captureState.outputHeight, 480);

  // Typing while grabbing changes the text, not the stored size.
  captureState.grabbing = 1;
  SendMessageA(width, WM_CHAR, '5', 0);
  EXPECT_EQ(windowText(width), "725");
  EXPECT_EQ(captureState.outputWidth, 72);
}

TEST_F(MainWindowTest, VanishedWindowRefreshesListAndKeepsOldSize) {
  HWND target = makeWindow("Skelby short-lived window", 220, 160, true);
  command(IDC_REFRESH);
  select("Skelby short-lived window");
  const int width = captureState.sourceWidth;
  ASSERT_GT(width, 0);
  DestroyWindow(target);
  pumpMessages();
  // The entry is still listed until the probe notices.
  select("Skelby short-lived window");
  EXPECT_EQ(captureState.sourceWidth, width);
  EXPECT_FALSE(listed("Skelby short-lived window"));

  // A window whose title changed after listing cannot be probed either.
  HWND renamed = makeWindow("Skelby old title", 220, 160, true);
  command(IDC_REFRESH);
  SetWindowTextA(renamed, "Skelby new title");
  select("Skelby old title");
  EXPECT_FALSE(listed("Skelby old title"));
  EXPECT_TRUE(listed("Skelby new title"));
  DestroyWindow(renamed);
}

TEST_F(MainWindowTest, CaptureBordersMeasuresOnlyASelectedEntryAndNeverRefillsTheList) {
  HWND gone = makeWindow("Skelby window that closes", 220, 160, true);
  command(IDC_REFRESH);
  select("Skelby window that closes");
  DestroyWindow(gone);
  command(IDC_REFRESH);  // the title read stays behind, with nothing selected
  ASSERT_EQ(SendMessageA(captureState.listBox, LB_GETCURSEL, 0, 0), LB_ERR);
  ASSERT_STREQ(captureState.targetTitle, "Skelby window that closes");
  // A window opened since the Refresh: listed only if the list is refilled.
  HWND later = makeWindow("Skelby window opened later", 220, 160, true);
  const std::string label = windowText(captureState.sizeLabel);
  CheckDlgButton(window, IDC_CAPTUREBORDERS, BST_CHECKED);
  command(IDC_CAPTUREBORDERS, BN_CLICKED);
  EXPECT_FALSE(listed("Skelby window opened later")) << "the list was refilled";
  EXPECT_EQ(windowText(captureState.sizeLabel), label);

  // With an entry selected, the label follows the box.
  command(IDC_REFRESH);
  select("Skelby window opened later");
  CheckDlgButton(window, IDC_CAPTUREBORDERS, BST_UNCHECKED);
  command(IDC_CAPTUREBORDERS, BN_CLICKED);
  EXPECT_EQ(windowText(captureState.sizeLabel).rfind("Client Size : ", 0), 0u)
      << windowText(captureState.sizeLabel);
  DestroyWindow(later);
}

// The list also reports focus changes: they measure nothing and never
// refill the list under the user, even when the title read last names a
// window that is gone.
TEST_F(MainWindowTest, FocusChangesInTheListProbeNothing) {
  HWND gone = makeWindow("Skelby focus target", 220, 160, true);
  command(IDC_REFRESH);
  select("Skelby focus target");
  const std::string label = windowText(captureState.sizeLabel);
  DestroyWindow(gone);
  pumpMessages();
  HWND later = makeWindow("Skelby window opened after", 220, 160, true);
  for (int notification : {LBN_SETFOCUS, LBN_KILLFOCUS, LBN_SELCANCEL}) {
    command(IDC_WINDOWLIST, notification, captureState.listBox);
    EXPECT_TRUE(listed("Skelby focus target")) << notification << ": the list was refilled";
    EXPECT_FALSE(listed("Skelby window opened after")) << notification << ": the list was refilled";
    EXPECT_EQ(windowText(captureState.sizeLabel), label) << notification;
  }
  // A selection change does look, and finds the window gone.
  select("Skelby focus target");
  EXPECT_FALSE(listed("Skelby focus target"));
  DestroyWindow(later);
}

// A help page the shell cannot open is told, with where it was looked for.
TEST_F(MainWindowTest, AHelpPageThatCannotBeOpenedIsTold) {
  char saved[sizeof programFolder];
  lstrcpynA(saved, programFolder, sizeof saved);
  lstrcpynA(programFolder, "c:\\no such skelby folder", sizeof programFolder);
  MessageBoxWatcher told;
  command(IDM_HELP);
  ASSERT_TRUE(told.waitForBox());
  EXPECT_EQ(told.text.rfind("The help page could not be opened : Error ", 0), 0u) << told.text;
  EXPECT_NE(told.text.find("c:\\no such skelby folder\\help\\index.html"), std::string::npos) << told.text;
  EXPECT_EQ(told.owner, window);
  lstrcpynA(programFolder, saved, sizeof programFolder);
}

TEST_F(MainWindowTest, AboutShowsTheYearInABoxOwnedByTheMainWindow) {
  formatAboutText(currentYear());
  MessageBoxWatcher watcher;
  command(IDM_ABOUT);
  ASSERT_TRUE(watcher.waitForBox());
  SYSTEMTIME now;
  GetLocalTime(&now);
  EXPECT_NE(watcher.text.find(std::to_string(now.wYear)), std::string::npos) << watcher.text;
  EXPECT_FALSE(watcher.caption.empty());
  EXPECT_EQ(watcher.owner, window);
  EXPECT_TRUE(watcher.hasOkButton);
}

TEST_F(MainWindowTest, GrabWithNoWindowChosenAsksForOneAndStaysIdle) {
  ASSERT_EQ(SendMessageA(captureState.listBox, LB_GETCURSEL, 0, 0), LB_ERR);
  MessageBoxWatcher watcher;
  command(IDC_GRAB, BN_CLICKED);
  ASSERT_TRUE(watcher.waitForBox());
  EXPECT_EQ(watcher.text, kChooseWindowMessage);
  EXPECT_EQ(watcher.owner, window);
  EXPECT_EQ(captureState.grabbing, 0);
  EXPECT_EQ(windowText(captureState.grabButton), "Grab");
  EXPECT_EQ(captureState.currentFrame, nullptr) << "no start was tried";
}

TEST_F(MainWindowTest, CommandsThatReachADisabledWindowAreNotObeyed) {
  // Disabled, as it is under one of its own dialogs or message boxes.
  EnableWindow(window, FALSE);
  MessageBoxWatcher refused;
  command(IDC_GRAB, BN_CLICKED);
  EXPECT_FALSE(refused.waitForBox(500)) << "Grab was obeyed: " << refused.text;
  // Enabled again, the same Grab asks for a window.
  EnableWindow(window, TRUE);
  MessageBoxWatcher obeyed;
  command(IDC_GRAB, BN_CLICKED);
  EXPECT_TRUE(obeyed.waitForBox());
}

TEST(SizeFieldText, DigitsReadAsTheirNumberAnythingElseAsNoSize) {
  const struct {
    const char* text;
    int32_t size;
  } cases[] = {
      {"", 0},
      {"0", 0},
      {"640", 640},
      {"0017", 17},
      {"32768", 32768},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX},
      {"4294967297", INT32_MAX},  // not 1, as 32 bits would wrap it
      {"99999999999999999999", INT32_MAX},
      {" 50", INT32_MAX},
      {"50x", INT32_MAX},
      {"-5", INT32_MAX},
  };
  for (const auto& c : cases) EXPECT_EQ(sizeFromText(c.text), c.size) << '"' << c.text << '"';
}

TEST(DestinationPathLength, AsTheSaveDialogBuildsThePath) {
  // Relative names go into the folder, with the default extension when none.
  EXPECT_EQ(chosenPathLength("c:\\movies", "a.mov", "mov"), std::strlen("c:\\movies\\a.mov"));
  EXPECT_EQ(chosenPathLength("c:\\movies", "a", "mov"), std::strlen("c:\\movies\\a.mov"));
  EXPECT_EQ(chosenPathLength("c:\\", "a.mov", "mov"), std::strlen("c:\\a.mov"));
  EXPECT_EQ(chosenPathLength("c:\\movies", "sub.d\\a", "mov"), std::strlen("c:\\movies\\sub.d\\a.mov"));
  EXPECT_EQ(chosenPathLength("c:\\movies", "a.", "mov"), std::strlen("c:\\movies\\a."));
  // Names with a drive or a server stand by themselves; a root takes the drive.
  EXPECT_EQ(chosenPathLength("c:\\movies", "d:\\x\\a.mov", "mov"), std::strlen("d:\\x\\a.mov"));
  EXPECT_EQ(chosenPathLength("c:\\movies", "\\\\srv\\share\\a", "mov"), std::strlen("\\\\srv\\share\\a.mov"));
  EXPECT_EQ(chosenPathLength("c:\\movies", "\\x\\a.mov", "mov"), std::strlen("c:\\x\\a.mov"));
  EXPECT_EQ(chosenPathLength("c:\\movies", "", "mov"), 0u);
  // The longest that a movie file's name holds, and one more.
  const std::string longest(kLongestDestination - 4, 'a');
  EXPECT_EQ(chosenPathLength("c:\\", ("c:\\" + longest.substr(3)).c_str(), "mov"), kLongestDestination);
  EXPECT_EQ(chosenPathLength("c:\\", longest.substr(2).c_str(), "mov"), kLongestDestination + 1);
}

// Grab and Stop through the window with our QuickTime: what is recorded,
// and what the window shows meanwhile.
class MainWindowGrabTest : public MainWindowTest {
 protected:
  static void SetUpTestSuite() {
    MainWindowTest::SetUpTestSuite();
    quickTimeStarted = quickTime.start();
  }
  static void TearDownTestSuite() {
    if (quickTimeStarted) quickTime.stop();
  }

  void SetUp() override {
    MainWindowTest::SetUp();
    ASSERT_TRUE(quickTimeStarted) << "QuickTime.qts did not start";
    std::strcpy(captureState.destinationPath, kMovie);
    target = makeWindow("Skelby grab target", 300, 200, true);
    command(IDC_REFRESH);
    select("Skelby grab target");
  }

  void TearDown() override {
    stopGrabbing();
    stopRecording();
    if (target) DestroyWindow(target);
    DeleteFileA(kMovie);
    MainWindowTest::TearDown();
  }

  void grab() { command(IDC_GRAB, BN_CLICKED); }
  // Stop before any frame (the loop is not turned here): nothing was
  // recorded, which a box says. The next Grab comes after the double-click
  // time, as a deliberate one would.
  void stopBeforeAnyFrame() {
    MessageBoxWatcher told;
    grab();
    EXPECT_TRUE(told.waitForBox());
    EXPECT_EQ(told.text.rfind("Nothing was recorded: ", 0), 0u) << told.text;
    Sleep(GetDoubleClickTime() + 20);
  }
  std::string fields() {
    return windowText(captureState.widthField) + "x" + windowText(captureState.heightField);
  }
  std::string frameSize() {
    const OffscreenFrame* f = captureState.currentFrame;
    return f ? std::to_string(f->width) + "x" + std::to_string(f->height) : "none";
  }

  static constexpr const char* kMovie = "MainWindowGrabTest.mov";
  static QuickTimeEnvironment quickTime;
  static bool quickTimeStarted;
  HWND target = nullptr;
};

QuickTimeEnvironment MainWindowGrabTest::quickTime;
bool MainWindowGrabTest::quickTimeStarted = false;

TEST_F(MainWindowGrabTest, EveryGrabRecordsTheSizeTheFieldsShow) {
  grab();  // fields untouched since start
  ASSERT_EQ(captureState.grabbing, 1);
  EXPECT_EQ(frameSize(), "640x480");
  stopBeforeAnyFrame();

  SetWindowTextA(captureState.widthField, "16");
  SetWindowTextA(captureState.heightField, "");
  grab();
  EXPECT_EQ(frameSize(), "320x240");
  EXPECT_EQ(fields(), "320x240") << "the fields show the size that replaced 16 x nothing";

  // A double-click while grabbing fills the fields; the next Grab takes them.
  select("Skelby grab target", LBN_DBLCLK);
  const std::string shown = fields();
  EXPECT_NE(shown, "320x240");
  stopBeforeAnyFrame();
  grab();
  EXPECT_EQ(frameSize(), shown);
  EXPECT_EQ(captureState.grabbing, 1);
}

TEST_F(MainWindowGrabTest, GrabAfterARefreshAsksForAWindowAndLeavesTheFileAlone) {
  // A file of the user's at the destination.
  HANDLE file = CreateFileA(kMovie, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, "keep", 4, &written, nullptr);
  CloseHandle(file);
  ASSERT_STRNE(captureState.targetTitle, "") << "the title read before the Refresh";
  command(IDC_REFRESH);
  MessageBoxWatcher watcher;
  grab();
  ASSERT_TRUE(watcher.waitForBox());
  EXPECT_EQ(watcher.text, kChooseWindowMessage);
  EXPECT_EQ(captureState.grabbing, 0);
  EXPECT_EQ(windowText(captureState.grabButton), "Grab");
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ASSERT_TRUE(GetFileAttributesExA(kMovie, GetFileExInfoStandard, &data)) << "the file was deleted";
  EXPECT_EQ(data.nFileSizeLow, 4u) << "the file was replaced";
}

TEST_F(MainWindowGrabTest, WhatCannotChangeWhileGrabbingIsDisabled) {
  HMENU menu = GetMenu(window);
  HWND chooser = GetDlgItem(window, IDC_CHOOSEFILE);
  auto settingsGrayed = [&] { return (GetMenuState(menu, IDM_SETTINGS, MF_BYCOMMAND) & MF_GRAYED) != 0; };
  EXPECT_FALSE(settingsGrayed());
  EXPECT_TRUE(IsWindowEnabled(chooser));
  grab();
  ASSERT_EQ(captureState.grabbing, 1);
  EXPECT_TRUE(settingsGrayed());
  EXPECT_FALSE(IsWindowEnabled(chooser));
  EXPECT_FALSE(IsWindowEnabled(captureState.widthField));
  EXPECT_TRUE(IsWindowEnabled(captureState.listBox)) << "the list stays live";
  stopBeforeAnyFrame();
  EXPECT_FALSE(settingsGrayed());
  EXPECT_TRUE(IsWindowEnabled(chooser));
  EXPECT_TRUE(IsWindowEnabled(captureState.widthField));
}

TEST_F(MainWindowTest, ExitEndsTheLoopWithCodeZero) {
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), 0);
  EXPECT_EQ(runMainLoop(), 0);
  EXPECT_EQ(captureState.quitRequested, 1);
}

TEST_F(MainWindowTest, CloseBoxEndsTheLoopWithCodeZero) {
  PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  EXPECT_EQ(runMainLoop(), 0);
  EXPECT_EQ(captureState.quitRequested, 1);
  EXPECT_FALSE(IsWindow(window));
}

}  // namespace
