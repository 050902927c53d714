// The Export Settings dialog, driven as a user would from a second thread:
// its layout from the live windows, what it lists and what Ok and Cancel store.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FakeQuickTime.h"
#include "MovieTestSupport.h"
#include "TestSupport.h"
#include "app/CaptureState.h"
#include "movie/CompressionSettings.h"
#include "resource.h"

namespace {

const std::vector<std::string> kQualityLabels = {"Lossless", "Minimum", "Low", "Normal", "High", "Maximum"};

class ExportSettingsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qt = resetFakeQuickTime();
    ASSERT_NE(qt, nullptr) << "the test library is not the bound QuickTime.qts";
    // Listed out of order, so the sorting shows.
    qt->codecCount = 4;
    qt->codecs[0] = {fourCC("png "), 3, "PNG"};
    qt->codecs[1] = {fourCC("rle "), 9, "Animation"};
    qt->codecs[2] = {fourCC("raw "), 4, "None"};
    qt->codecs[3] = {fourCC("jpeg"), 12, "Photo - JPEG"};
    saved = compressionSettings;
  }
  void TearDown() override { compressionSettings = saved; }

  void setSettings(const char* name, CodecType type, int32_t quality, int32_t ms) {
    std::strcpy(compressionSettings.codecName, name);
    compressionSettings.codecType = type;
    compressionSettings.qualityIndex = quality;
    compressionSettings.frameDurationMs = ms;
  }
  void expectSettings(const char* name, CodecType type, int32_t quality, int32_t ms) {
    EXPECT_STREQ(compressionSettings.codecName, name);
    EXPECT_EQ(compressionSettings.codecType, type);
    EXPECT_EQ(compressionSettings.qualityIndex, quality);
    EXPECT_EQ(compressionSettings.frameDurationMs, ms);
  }

  FakeQuickTimeState* qt = nullptr;
  CompressionSettings saved;
};

TEST_F(ExportSettingsDialogTest, ShowsSortedCodecsTheSixQualitiesAndTheCurrentDuration) {
  setSettings("PNG", fourCC("png "), 3, 250);
  std::vector<std::string> codecs, qualities;
  int codecSelected = -2, qualitySelected = -2;
  std::string duration;
  const DialogRun run = runExportSettings([&](HWND dialog) {
    codecs = comboItems(dialog, IDC_CODEC);
    qualities = comboItems(dialog, IDC_QUALITY);
    codecSelected = comboSelection(dialog, IDC_CODEC);
    qualitySelected = comboSelection(dialog, IDC_QUALITY);
    duration = windowText(GetDlgItem(dialog, IDC_FRAMEDURATION));
    clickButton(dialog, IDC_CANCEL);
  });
  ASSERT_TRUE(run.shown);
  EXPECT_FALSE(run.endedByDriver);
  EXPECT_FALSE(run.result) << "Cancel reports false";
  EXPECT_EQ(codecs, (std::vector<std::string>{"Animation", "None", "Photo - JPEG", "PNG"}));
  EXPECT_EQ(qualities, kQualityLabels);
  EXPECT_EQ(codecSelected, 0) << "the current codec is not shown";
  EXPECT_EQ(qualitySelected, 0) << "the current quality is not shown";
  EXPECT_EQ(duration, "250");
  expectSettings("PNG", fourCC("png "), 3, 250);
  EXPECT_EQ(qt->liveCodecLists, 0) << "one list per name plus one, each released";
}

TEST_F(ExportSettingsDialogTest, OkAtOnceTakesTheFirstCodecAndLossless) {
  setSettings("PNG", fourCC("png "), 4, 77);
  const DialogRun run = runExportSettings([](HWND dialog) { clickButton(dialog, IDC_OK); });
  ASSERT_TRUE(run.shown);
  EXPECT_TRUE(run.result);
  // The type follows the name only when the next movie is opened.
  expectSettings("Animation", fourCC("png "), 0, 77);
}

TEST_F(ExportSettingsDialogTest, OkStoresWhatWasChosen) {
  setSettings("", fourCC("rle "), 0, 100);
  const DialogRun run = runExportSettings([](HWND dialog) {
    selectComboItem(dialog, IDC_CODEC, 3);
    selectComboItem(dialog, IDC_QUALITY, 4);
    SetDlgItemTextA(dialog, IDC_FRAMEDURATION, "40");
    clickButton(dialog, IDC_OK);
  });
  ASSERT_TRUE(run.shown);
  EXPECT_TRUE(run.result);
  expectSettings("PNG", fourCC("rle "), 4, 40);
}

// The box the dialog shows over itself, read and dismissed from the
// driver's thread; empty when none came within the time-out.
BOOL CALLBACK boxText(HWND child, LPARAM param) {
  auto* text = reinterpret_cast<std::string*>(param);
  const std::string t = windowText(child);
  if (className(child) == "Static" && t.size() > text->size()) *text = t;
  return TRUE;
}

std::string dismissBoxOver(HWND dialog, DWORD timeoutMs = 10000) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
    for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
      if (GetWindow(w, GW_OWNER) != dialog || className(w) != "#32770" || !IsWindowVisible(w)) continue;
      Sleep(50);
      std::string text;
      EnumChildWindows(w, boxText, reinterpret_cast<LPARAM>(&text));
      PostMessageA(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      while (IsWindow(w)) Sleep(20);
      return text;
    }
    Sleep(20);
  }
  return std::string();
}

// A duration no movie can be paced by is refused out loud, as a size is at
// Grab: the dialog stays open and nothing changes.
TEST_F(ExportSettingsDialogTest, DurationsOfZeroOrPast2To31Minus1AreRefusedAndTheDialogStays) {
  for (const char* typed : {"", "0", "2147483648", "4294967295", "4294967296",
                            "99999999999999999999999999999999999999999999999999"}) {
    setSettings("PNG", fourCC("png "), 3, 100);
    std::string told;
    bool stillOpen = false;
    const DialogRun run = runExportSettings([&](HWND dialog) {
      selectComboItem(dialog, IDC_QUALITY, 4);
      SetDlgItemTextA(dialog, IDC_FRAMEDURATION, typed);
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_OK, BN_CLICKED), 0);
      told = dismissBoxOver(dialog);
      Sleep(100);
      stillOpen = IsWindow(dialog) && IsWindowVisible(dialog);
      clickButton(dialog, IDC_CANCEL);
    });
    ASSERT_TRUE(run.shown) << typed;
    EXPECT_EQ(told, kFrameDurationRefused) << '"' << typed << '"';
    EXPECT_TRUE(stillOpen) << '"' << typed << '"';
    EXPECT_FALSE(run.result) << typed;
    expectSettings("PNG", fourCC("png "), 3, 100);
  }
  // The largest duration is taken.
  const DialogRun run = runExportSettings([](HWND dialog) {
    SetDlgItemTextA(dialog, IDC_FRAMEDURATION, "2147483647");
    clickButton(dialog, IDC_OK);
  });
  EXPECT_TRUE(run.result);
  EXPECT_EQ(compressionSettings.frameDurationMs, 2147483647);
}

// Puts text on the clipboard, as a user's copy would.
bool copyToClipboard(const std::string& text) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  if (!block) return false;
  std::memcpy(GlobalLock(block), text.c_str(), text.size() + 1);
  GlobalUnlock(block);
  if (!OpenClipboard(nullptr)) {
    GlobalFree(block);
    return false;
  }
  EmptyClipboard();
  const bool set = SetClipboardData(CF_TEXT, block) != nullptr;
  CloseClipboard();
  if (!set) GlobalFree(block);
  return set;
}

TEST_F(ExportSettingsDialogTest, APastedDurationIsTakenWholeOrRefused) {
  const struct {
    const char* pasted;
    const char* shown;
    int32_t ms;
  } cases[] = {{" 50", "50", 50},   {"12.5", "100", 100}, {"-40", "100", 100}, {"1e3", "100", 100},
               {"50x", "100", 100}, {"abc", "100", 100},  {"0042", "0042", 42}};
  for (const auto& c : cases) {
    setSettings("", fourCC("rle "), 0, 100);
    std::string shown = "not read";
    bool copied = false;
    const DialogRun run = runExportSettings([&](HWND dialog) {
      HWND edit = GetDlgItem(dialog, IDC_FRAMEDURATION);
      copied = copyToClipboard(c.pasted);
      SendMessageA(edit, EM_SETSEL, 0, -1);  // the paste replaces "100"
      SendMessageA(edit, WM_PASTE, 0, 0);
      shown = windowText(edit);
      clickButton(dialog, IDC_OK);
    });
    ASSERT_TRUE(run.shown);
    ASSERT_TRUE(copied) << "the clipboard could not be set";
    EXPECT_EQ(shown, c.shown) << '"' << c.pasted << '"';
    EXPECT_EQ(compressionSettings.frameDurationMs, c.ms) << '"' << c.pasted << '"';
  }
}

TEST_F(ExportSettingsDialogTest, APasteInTheMiddleLeavesTheCaretAfterIt) {
  setSettings("", fourCC("rle "), 0, 1200);
  std::string shown;
  DWORD caret = 0;
  const DialogRun run = runExportSettings([&](HWND dialog) {
    HWND edit = GetDlgItem(dialog, IDC_FRAMEDURATION);
    ASSERT_TRUE(copyToClipboard(" 3 "));
    SendMessageA(edit, EM_SETSEL, 2, 2);  // "12|00"
    SendMessageA(edit, WM_PASTE, 0, 0);   // "123|00"
    shown = windowText(edit);
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
    clickButton(dialog, IDC_OK);
  });
  ASSERT_TRUE(run.shown);
  EXPECT_EQ(shown, "12300");
  EXPECT_EQ(caret, 3u) << "right after the pasted 3";
  EXPECT_EQ(compressionSettings.frameDurationMs, 12300);
}

TEST_F(ExportSettingsDialogTest, WithAMainWindowTheDialogIsModalToIt) {
  ForegroundWindow main;
  ForegroundWindow foreground;  // in front, yet not the owner
  captureState.mainWindow = main.handle;
  HWND owner = nullptr;
  const DialogRun run = runExportSettings([&](HWND dialog) {
    owner = GetWindow(dialog, GW_OWNER);
    clickButton(dialog, IDC_CANCEL);
  });
  captureState.mainWindow = nullptr;
  ASSERT_TRUE(run.shown);
  EXPECT_EQ(owner, main.handle);
}

TEST_F(ExportSettingsDialogTest, CancelAfterChangingEverythingChangesNothing) {
  setSettings("None", fourCC("raw "), 2, 333);
  const DialogRun run = runExportSettings([](HWND dialog) {
    selectComboItem(dialog, IDC_CODEC, 3);
    selectComboItem(dialog, IDC_QUALITY, 5);
    SetDlgItemTextA(dialog, IDC_FRAMEDURATION, "5");
    clickButton(dialog, IDC_CANCEL);
  });
  ASSERT_TRUE(run.shown);
  EXPECT_FALSE(run.endedByDriver);
  EXPECT_FALSE(run.result);
  expectSettings("None", fourCC("raw "), 2, 333);
}

TEST_F(ExportSettingsDialogTest, EscapeAndCloseDoNotEndIt) {
  setSettings("None", fourCC("raw "), 2, 333);
  bool openAfterEscape = false, openAfterCancelCommand = false, openAfterClose = false;
  const DialogRun run = runExportSettings([&](HWND dialog) {
    HWND edit = GetDlgItem(dialog, IDC_FRAMEDURATION);
    SetFocus(edit);
    PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(edit, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    Sleep(300);
    openAfterEscape = IsWindowVisible(dialog) != 0;
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    Sleep(100);
    openAfterCancelCommand = IsWindowVisible(dialog) != 0;
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    Sleep(100);
    openAfterClose = IsWindowVisible(dialog) != 0;
    clickButton(dialog, IDC_CANCEL);
  });
  ASSERT_TRUE(run.shown);
  EXPECT_TRUE(openAfterEscape);
  EXPECT_TRUE(openAfterCancelCommand);
  EXPECT_TRUE(openAfterClose);
  EXPECT_FALSE(run.endedByDriver) << "the Cancel button still ends it";
  expectSettings("None", fourCC("raw "), 2, 333);
}

TEST_F(ExportSettingsDialogTest, WithNoCodecOneMessageThenOkStoresAnEmptyName) {
  setSettings("PNG", fourCC("png "), 1, 100);
  qt->codecCount = 0;
  MessageBoxWatcher watcher;  // the box comes before the dialog shows
  std::vector<std::string> codecs{"not read"};
  const DialogRun run = runExportSettings([&](HWND dialog) {
    codecs = comboItems(dialog, IDC_CODEC);
    clickButton(dialog, IDC_OK);
  });
  ASSERT_TRUE(watcher.seen());
  EXPECT_EQ(watcher.text, "no available codec. Try to reinstall quicktime.");
  EXPECT_NE(std::strstr(qt->log, "GetCodecNameList"), nullptr);
  EXPECT_EQ(std::strstr(std::strstr(qt->log, "GetCodecNameList") + 1, "GetCodecNameList"), nullptr)
      << "the list is asked for once: " << qt->log;
  ASSERT_TRUE(run.shown);
  EXPECT_TRUE(codecs.empty());
  expectSettings("", fourCC("png "), 0, 100);
}

// --- Layout, from the live dialog

struct ExpectedControl {
  const char* className;
  int id;
  const char* text;  // a combo box shows its selection; null: not compared
  DWORD style;       // the bits the template sets, beyond child and visible; the
                     // combo boxes' WS_VSCROLL is not on their live windows
  RECT units;        // x, y, width, height in dialog units
};

const ExpectedControl kControls[] = {
    {"Static", -1, "Codec  :", SS_LEFT | WS_GROUP, {10, 5, 210, 8}},
    {"ComboBox", IDC_CODEC, "Animation", CBS_DROPDOWNLIST | CBS_SORT, {10, 15, 112, 250}},
    {"Static", -1, "Quality  :", SS_LEFT | WS_GROUP, {10, 30, 210, 8}},
    {"ComboBox", IDC_QUALITY, "Lossless", CBS_DROPDOWNLIST, {10, 40, 112, 100}},
    {"Static", -1, "Frame duration ( ms )  :", SS_LEFT | WS_GROUP, {10, 55, 210, 8}},
    {"Edit", IDC_FRAMEDURATION, "100", ES_NUMBER | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, {10, 65, 30, 12}},
    {"Static", -1, nullptr, SS_BITMAP | SS_SUNKEN, {130, 10, 160, 120}},
    {"Button", IDC_OK, "Ok", BS_DEFPUSHBUTTON | WS_TABSTOP, {196, 94, 40, 16}},
    {"Button", IDC_CANCEL, "Cancel", BS_PUSHBUTTON | WS_TABSTOP, {145, 94, 40, 16}},
};

struct LiveControl {
  std::string className;
  int id;
  std::string text;
  DWORD style;
  DWORD exStyle;
  RECT rect;    // in the dialog's client pixels
  RECT origin;  // the template's x and y mapped to pixels
  RECT size;    // the template's width and height mapped to pixels
};

struct LiveDialog {
  std::string caption;
  DWORD style = 0;
  HWND owner = nullptr;
  bool foreground = false;
  RECT window = {};
  RECT workArea = {};
  LOGFONTA font = {};
  std::vector<LiveControl> controls;
  bool titleOnScreen = false;
  std::string titleMismatch;
  RECT pictureClient = {};
};

// The title picture as the screen shows it inside the picture control,
// compared with bitmap resource 100 itself.
bool titlePictureOnScreen(HWND picture, std::string& why) {
  HBITMAP resource = static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_TITLE),
                                                     IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (!resource) return why = "no bitmap resource 100", false;
  BITMAP info = {};
  GetObjectA(resource, sizeof info, &info);
  if (info.bmWidth != 160 || info.bmHeight != 120 || info.bmBitsPixel != 24) {
    DeleteObject(resource);
    char text[96];
    std::snprintf(text, sizeof text, "bitmap is %ld x %ld x %d", long(info.bmWidth), long(info.bmHeight),
                  int(info.bmBitsPixel));
    return why = text, false;
  }
  BITMAPINFO header = {};
  header.bmiHeader.biSize = sizeof header.bmiHeader;
  header.bmiHeader.biWidth = 160;
  header.bmiHeader.biHeight = -120;
  header.bmiHeader.biPlanes = 1;
  header.bmiHeader.biBitCount = 32;
  std::vector<uint32_t> expected(160 * 120), shown(160 * 120);
  HDC screen = GetDC(nullptr);
  GetDIBits(screen, resource, 0, 120, expected.data(), &header, DIB_RGB_COLORS);
  DeleteObject(resource);

  POINT origin = {0, 0};
  ClientToScreen(picture, &origin);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP copy = CreateCompatibleBitmap(screen, 160, 120);
  HGDIOBJ old = SelectObject(memory, copy);
  BitBlt(memory, 0, 0, 160, 120, screen, origin.x, origin.y, SRCCOPY);
  SelectObject(memory, old);
  GetDIBits(memory, copy, 0, 120, shown.data(), &header, DIB_RGB_COLORS);
  DeleteObject(copy);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  for (size_t i = 0; i < expected.size(); ++i) {
    if ((expected[i] & 0xFFFFFF) != (shown[i] & 0xFFFFFF)) {
      char text[96];
      std::snprintf(text, sizeof text, "pixel (%d, %d): expected %06x, screen %06x", int(i % 160),
                    int(i / 160), unsigned(expected[i] & 0xFFFFFF), unsigned(shown[i] & 0xFFFFFF));
      return why = text, false;
    }
  }
  return true;
}

// For the screenshot script: where the dialog is, then wait until it has
// taken its picture.
void handOverForScreenshot(HWND dialog, HWND picture) {
  const char* dir = std::getenv("SKELBY_SCREENSHOT_DIR");
  if (!dir || !*dir) return;
  RECT box = {};
  GetWindowRect(dialog, &box);
  POINT origin = {0, 0};
  ClientToScreen(picture, &origin);
  const std::string base = dir;
  if (FILE* f = std::fopen((base + "/dialog.txt").c_str(), "w")) {
    std::fprintf(f, "%ld %ld %ld %ld %ld %ld\n", long(box.left), long(box.top), long(box.right - box.left),
                 long(box.bottom - box.top), long(origin.x), long(origin.y));
    std::fclose(f);
  }
  for (int i = 0; i < 600; ++i) {
    if (FILE* f = std::fopen((base + "/done").c_str(), "r")) {
      std::fclose(f);
      return;
    }
    Sleep(100);
  }
}

TEST_F(ExportSettingsDialogTest, LayoutMatchesTheTemplate) {
  setSettings("", fourCC("rle "), 0, 100);
  ForegroundWindow owner;
  LiveDialog live;
  const DialogRun run = runExportSettings([&](HWND dialog) {
    live.caption = windowText(dialog);
    live.style = DWORD(GetWindowLongPtrA(dialog, GWL_STYLE));
    live.owner = GetWindow(dialog, GW_OWNER);
    live.foreground = GetForegroundWindow() == dialog;
    GetWindowRect(dialog, &live.window);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &live.workArea, 0);
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    GetObjectA(font, sizeof live.font, &live.font);
    size_t index = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      LiveControl c;
      c.className = className(child);
      c.id = GetDlgCtrlID(child);
      c.text = windowText(child);
      c.style = DWORD(GetWindowLongPtrA(child, GWL_STYLE));
      c.exStyle = DWORD(GetWindowLongPtrA(child, GWL_EXSTYLE));
      c.rect = childRect(child);
      if (index < std::size(kControls)) {
        // Position and size map separately, as the dialog manager maps them.
        const RECT& u = kControls[index].units;
        c.origin = {u.left, u.top, 0, 0};
        c.size = {0, 0, u.right, u.bottom};
        MapDialogRect(dialog, &c.origin);
        MapDialogRect(dialog, &c.size);
      }
      if (c.style & SS_BITMAP && c.className == "Static") {
        live.titleOnScreen = titlePictureOnScreen(child, live.titleMismatch);
        GetClientRect(child, &live.pictureClient);
        handOverForScreenshot(dialog, child);
      }
      live.controls.push_back(c);
      ++index;
    }
    clickButton(dialog, IDC_CANCEL);
  });
  ASSERT_TRUE(run.shown);
  EXPECT_FALSE(run.endedByDriver);

  EXPECT_EQ(live.caption, "Export Settings");
  EXPECT_TRUE(live.style & WS_CAPTION);
  EXPECT_TRUE(live.style & DS_MODALFRAME);
  EXPECT_FALSE(live.style & WS_SYSMENU) << "no system menu, so no close box";
  EXPECT_EQ(live.owner, owner.handle) << "owned by the window in the foreground";
  EXPECT_TRUE(live.foreground);
  EXPECT_STREQ(live.font.lfFaceName, "MS Sans Serif");
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(live.font.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72));
  ReleaseDC(nullptr, screen);
  // Centred in the working area (to the pixel, halves rounded down).
  const int w = live.window.right - live.window.left, h = live.window.bottom - live.window.top;
  EXPECT_EQ(live.window.left, live.workArea.left + (live.workArea.right - live.workArea.left - w) / 2);
  EXPECT_EQ(live.window.top, live.workArea.top + (live.workArea.bottom - live.workArea.top - h) / 2);

  ASSERT_EQ(live.controls.size(), std::size(kControls));
  for (size_t i = 0; i < live.controls.size(); ++i) {
    const LiveControl& c = live.controls[i];
    const ExpectedControl& e = kControls[i];
    SCOPED_TRACE(std::string("control ") + std::to_string(i) + " " + e.className + " \"" +
                 (e.text ? e.text : "picture") + "\"");
    EXPECT_EQ(c.className, e.className);
    EXPECT_EQ(c.id == 0xFFFF ? -1 : c.id, e.id);  // 16-bit templates give 0xFFFF
    if (e.text) {
      EXPECT_EQ(c.text, e.text);
    }
    const bool combo = c.className == "ComboBox";
    DWORD style = c.style;
    // An edit's border is drawn as a client edge.
    if (c.className == "Edit" && (c.exStyle & WS_EX_CLIENTEDGE)) style |= WS_BORDER;
    EXPECT_EQ(style & e.style, e.style) << std::hex << c.style << " ex " << c.exStyle;
    EXPECT_TRUE(c.style & WS_VISIBLE);
    EXPECT_EQ(c.rect.left, c.origin.left);
    EXPECT_EQ(c.rect.top, c.origin.top);
    if (std::strcmp(e.className, "Static") == 0 && (e.style & SS_BITMAP)) {
      // A bitmap control takes its picture's size in pixels, inside its frame.
      EXPECT_EQ(live.pictureClient.right, 160);
      EXPECT_EQ(live.pictureClient.bottom, 120);
      continue;
    }
    EXPECT_EQ(c.rect.right - c.rect.left, c.size.right);
    if (combo) {
      EXPECT_FALSE(c.style & WS_TABSTOP) << "the lists have no tab stop";
    } else {
      EXPECT_EQ(c.rect.bottom - c.rect.top, c.size.bottom);  // a closed list shows one line only
    }
  }
  EXPECT_TRUE(live.titleOnScreen) << live.titleMismatch;
}

}  // namespace
