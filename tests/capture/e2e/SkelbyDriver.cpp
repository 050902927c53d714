// Works Skelby's main window from outside, the way a user's clicks and
// keystrokes would reach it, for the end-to-end script. One command per run:
//   wait TITLE MS          exit 0 once a top-level window has that title
//   gone TITLE MS          exit 0 once no top-level window has that title
//   select ENTRY [dbl]     select a list entry (double-click: copy its size)
//   set ID TEXT            type TEXT into an edit field (Width 137, Height 136)
//   check ID 0|1           tick or clear a check box
//   press ID               press a button (posted, as a click is)
//   center ID              print the control's centre in screen coordinates
//   text ID                print a control's text (1000: status bar)
//   checked ID             print 1 or 0
//   enabled ID             print 1 or 0
//   settings CODEC MS [Q]  choose the codec, frame duration and quality row
//                          (0 Lossless ... 5 Maximum; Lossless unless given)
//   destination PATH       choose PATH through Skelby's save dialog
//                          (both return once the dialog has closed, or after 5 s)
//   box MS                 print the text of a message box of Skelby, then OK it
//   boxowner MS            print "main" when Skelby's message box is owned by
//                          its main window, else "none" or "other"; leave it up
//   mainenabled            print 1 or 0: is the main window enabled
//   boxcount               print how many message boxes of Skelby are up
//   retry MS               print the text of Skelby's Retry/Cancel box, then
//                          choose Retry
//   menu ID                choose a menu command (Exit 162), as a click would
//   namebox MS             wait for the save dialog, print its name box's centre
//   cancel MS              press Cancel in the save dialog
//   item ENTRY             print a list entry's centre in screen coordinates
//   refresh                press Refresh and wait until the list is filled again
//   client TITLE           print a window's client origin in screen coordinates
//   minimise TITLE         minimise a top-level window
//   restore TITLE          restore a minimised top-level window
//   iconic TITLE           print 1 when the window is minimised, else 0
//   resize TITLE W H       give a top-level window a client area of W x H
//   close                  close Skelby's main window
//   part N                 print the text of the status bar's part N; exit 1
//                          when it has no such part, 3 when its text cannot be
//                          read (the 32-bit Wine under emulation reads no other
//                          process's memory)
//   foreground             print the title of the foreground window
//   watchpause MS          watch the status bar (every millisecond or so) until
//                          it reads "idle." after "Grabbing!", at most MS: print
//                          "PAUSES PAUSED_MS UNSURE_MS", the stretches that read
//                          "Paused.", their total, and how far that total may be
//                          off: each edge lies between two looks, and the time
//                          between those two is added up over all edges
//   controls main|settings print the main window, or the Export Settings
//                          dialog (opened first and left up): first "window",
//                          its client rectangle on the screen (X0 Y0 X1 Y1)
//                          and its whole rectangle, then each of its
//                          controls, one a line: ID CLASS STYLE, its client
//                          rectangle on the screen, its handle, the screen's
//                          dpi, its text (tab-separated)
//   place HANDLE X Y W H [alone]
//                          give a control the client rectangle at X, Y (on
//                          the screen) of W x H and have it drawn; alone: the
//                          others of its window hidden, until the next place
//   dismiss                cancel the Export Settings dialog
// The driver is DPI-aware: what it reads and prints are screen pixels, which
// is what xdotool clicks, at any display scaling.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

HWND waitForWindow(const char* className, const char* title, int ms) {
  for (int waited = 0;; waited += 50) {
    HWND w = FindWindowA(className, title);
    if (w || waited >= ms) return w;
    Sleep(50);
  }
}

HWND skelby() { return waitForWindow("Grabbing an app", "Skelby", 5000); }

HWND control(int id) {
  HWND main = skelby();
  return main ? GetDlgItem(main, id) : nullptr;
}

std::string textOf(HWND w) {
  char text[512] = "";
  SendMessageA(w, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

// Which of Skelby's dialogs is looked for: any, the save dialog (it has a
// file name box), or a message box (neither that nor the Settings dialog).
enum class Kind { any, save, message };

HWND fileNameBox(HWND dialog) {
  HWND name = GetDlgItem(dialog, 1148);  // a combo box, or an edit (1152)
  return name ? name : GetDlgItem(dialog, 1152);
}

struct BoxSearch {
  DWORD process;
  Kind kind;
  HWND found;
  int count;
};

BOOL CALLBACK findBox(HWND w, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  char cls[64] = "";
  GetClassNameA(w, cls, sizeof cls);
  DWORD process = 0;
  GetWindowThreadProcessId(w, &process);
  if (strcmp(cls, "#32770") != 0 || process != search->process || !IsWindowVisible(w)) return TRUE;
  const bool save = fileNameBox(w) != nullptr;
  const bool settings = GetDlgItem(w, 220) != nullptr;
  if (search->kind == Kind::save && !save) return TRUE;
  if (search->kind == Kind::message && (save || settings)) return TRUE;
  search->found = w;
  ++search->count;
  return search->kind == Kind::message ? TRUE : FALSE;  // message boxes are counted
}

HWND skelbyDialog(int ms, Kind kind = Kind::any) {
  HWND main = skelby();
  if (!main) return nullptr;
  BoxSearch search = {0, kind, nullptr, 0};
  GetWindowThreadProcessId(main, &search.process);
  for (int waited = 0; waited <= ms; waited += 50) {
    search.found = nullptr;
    EnumWindows(findBox, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    Sleep(50);
  }
  return nullptr;
}

BOOL CALLBACK collectStatic(HWND w, LPARAM param) {
  char cls[64] = "";
  GetClassNameA(w, cls, sizeof cls);
  if (_stricmp(cls, "Static") == 0) {
    const std::string t = textOf(w);
    if (!t.empty()) *reinterpret_cast<std::string*>(param) += t;
  }
  return TRUE;
}

// Gives a dialog told to close the time it takes, so the next command finds
// it gone; one that stays (it asks something first) is left to the script.
void waitUntilClosed(HWND dialog, int ms) {
  for (int waited = 0; waited < ms && IsWindow(dialog) && IsWindowVisible(dialog); waited += 50) Sleep(50);
}

int fail(const char* what);

// A status bar part's text, read through Skelby's own memory: the status
// bar's messages carry pointers that are not carried across processes.
// 0 when read, 1 when there is no such part, 3 when it cannot be read.
int statusPart(HWND bar, int part, std::string& text) {
  const int parts = static_cast<int>(SendMessageA(bar, SB_GETPARTS, 0, 0));
  if (part >= parts) {
    fprintf(stderr, "driver: the status bar has %d parts\n", parts);
    return 1;
  }
  DWORD process = 0;
  GetWindowThreadProcessId(bar, &process);
  HANDLE h = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process);
  if (!h) {
    fprintf(stderr, "driver: OpenProcess failed (%lu)\n", GetLastError());
    return 3;
  }
  char local[512] = "";
  void* remote = VirtualAllocEx(h, nullptr, sizeof local, MEM_COMMIT, PAGE_READWRITE);
  if (!remote) fprintf(stderr, "driver: VirtualAllocEx failed (%lu)\n", GetLastError());
  bool read = false;
  if (remote) {
    SendMessageA(bar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(remote));
    SIZE_T got = 0;
    read = ReadProcessMemory(h, remote, local, sizeof local - 1, &got) != 0;
    if (!read) fprintf(stderr, "driver: ReadProcessMemory failed (%lu)\n", GetLastError());
    VirtualFreeEx(h, remote, 0, MEM_RELEASE);
  }
  CloseHandle(h);
  text = local;
  return read ? 0 : 3;
}

double nowMs() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) * 1000.0 / double(f.QuadPart);
}

// Times the pauses of a recording as the status bar shows them: Skelby
// writes "Paused." in the same step that stops its clock, and the next text
// in the step that starts it again.
int watchPause(int ms) {
  HWND bar = control(1000);
  if (!bar) return fail("no status bar");
  int pauses = 0;
  double paused = 0, unsure = 0, pausedSince = 0;
  bool inPause = false, grabbing = false;
  const double start = nowMs();
  double last = start;
  for (;;) {
    char text[64] = "";
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(bar, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                             1000, &copied)) {
      return fail("the status bar does not answer");
    }
    const double now = nowMs();
    const bool isPaused = strcmp(text, "Paused.") == 0;
    if (isPaused != inPause) unsure += now - last;
    last = now;
    if (isPaused && !inPause) {
      ++pauses;
      pausedSince = now;
    } else if (!isPaused && inPause) {
      paused += now - pausedSince;
    }
    inPause = isPaused;
    grabbing = grabbing || strcmp(text, "Grabbing!") == 0;
    if (grabbing && strcmp(text, "idle.") == 0) break;
    if (now - start > ms) return fail("the recording did not end in time");
    Sleep(1);
  }
  printf("%d %.0f %.0f\n", pauses, paused, unsure + 1);
  return 0;
}

struct ControlList {
  HWND parent;
  int dpi;
};

BOOL CALLBACK printControl(HWND c, LPARAM param) {
  auto* list = reinterpret_cast<ControlList*>(param);
  if (GetParent(c) != list->parent || !IsWindowVisible(c)) return TRUE;
  char cls[64] = "";
  GetClassNameA(c, cls, sizeof cls);
  RECT r = {};
  GetClientRect(c, &r);
  MapWindowPoints(c, nullptr, reinterpret_cast<POINT*>(&r), 2);
  std::string text = textOf(c);
  for (char& ch : text) {
    if (ch == '\t' || ch == '\n' || ch == '\r') ch = ' ';
  }
  printf("%d\t%s\t%lu\t%ld %ld %ld %ld\t%llu\t%d\t%s\n", GetDlgCtrlID(c), cls,
         static_cast<unsigned long>(GetWindowLongA(c, GWL_STYLE)), r.left, r.top, r.right, r.bottom,
         static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(c)), list->dpi, text.c_str());
  return TRUE;
}

HWND settingsDialog(int ms) {
  HWND main = skelby();
  if (!main) return nullptr;
  DWORD process = 0;
  GetWindowThreadProcessId(main, &process);
  for (int waited = 0; waited <= ms; waited += 50) {
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, "#32770", nullptr)) != nullptr) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == process && IsWindowVisible(w) && GetDlgItem(w, 220)) return w;
    }
    Sleep(50);
  }
  return nullptr;
}

int fail(const char* what) {
  fprintf(stderr, "driver: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return fail("no command");
  SetProcessDPIAware();
  const std::string cmd = argv[1];
  if (cmd == "wait" && argc > 3) return waitForWindow(nullptr, argv[2], atoi(argv[3])) ? 0 : 1;
  if (cmd == "gone" && argc > 3) {
    for (int waited = 0; FindWindowA(nullptr, argv[2]); waited += 50) {
      if (waited >= atoi(argv[3])) return 1;
      Sleep(50);
    }
    return 0;
  }
  if (cmd == "foreground") {
    char title[256] = "";
    GetWindowTextA(GetForegroundWindow(), title, sizeof title);
    printf("%s\n", title);
    return 0;
  }
  if (cmd == "watchpause" && argc > 2) return watchPause(atoi(argv[2]));
  if (cmd == "part" && argc > 2) {
    HWND bar = control(1000);
    if (!bar) return fail("no status bar");
    std::string text;
    const int result = statusPart(bar, atoi(argv[2]), text);
    if (result == 0) printf("%s\n", text.c_str());
    return result;
  }
  if (cmd == "close") {
    HWND main = skelby();
    if (!main) return fail("Skelby is not running");
    PostMessageA(main, WM_CLOSE, 0, 0);
    return 0;
  }
  if (cmd == "client" && argc > 2) {
    HWND w = FindWindowA(nullptr, argv[2]);
    if (!w) return fail("no such window");
    POINT origin = {0, 0};
    ClientToScreen(w, &origin);
    printf("%ld %ld\n", origin.x, origin.y);
    return 0;
  }
  if (cmd == "minimise" && argc > 2) {
    HWND w = FindWindowA(nullptr, argv[2]);
    if (!w) return fail("no such window");
    ShowWindow(w, SW_MINIMIZE);
    return 0;
  }
  if ((cmd == "restore" || cmd == "iconic") && argc > 2) {
    HWND w = FindWindowA(nullptr, argv[2]);
    if (!w) return fail("no such window");
    if (cmd == "restore") {
      ShowWindow(w, SW_RESTORE);
    } else {
      printf("%d\n", IsIconic(w) ? 1 : 0);
    }
    return 0;
  }
  if (cmd == "resize" && argc > 4) {
    HWND w = FindWindowA(nullptr, argv[2]);
    if (!w) return fail("no such window");
    RECT outer = {}, client = {};
    GetWindowRect(w, &outer);
    GetClientRect(w, &client);
    const int frameX = (outer.right - outer.left) - client.right;
    const int frameY = (outer.bottom - outer.top) - client.bottom;
    SetWindowPos(w, nullptr, 0, 0, atoi(argv[3]) + frameX, atoi(argv[4]) + frameY,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
  }
  if (cmd == "refresh") {
    HWND main = skelby();
    if (!main) return fail("Skelby is not running");
    SendMessageA(main, WM_COMMAND, MAKEWPARAM(988, BN_CLICKED), 0);
    return 0;
  }
  if (cmd == "mainenabled") {
    HWND main = skelby();
    if (!main) return fail("Skelby is not running");
    printf("%d\n", IsWindowEnabled(main) ? 1 : 0);
    return 0;
  }
  if (cmd == "boxcount") {
    HWND main = skelby();
    if (!main) return fail("Skelby is not running");
    BoxSearch search = {0, Kind::message, nullptr, 0};
    GetWindowThreadProcessId(main, &search.process);
    EnumWindows(findBox, reinterpret_cast<LPARAM>(&search));
    printf("%d\n", search.count);
    return 0;
  }
  if (cmd == "retry") {
    HWND box = skelbyDialog(argc > 2 ? atoi(argv[2]) : 3000, Kind::message);
    if (!box) return fail("no message box");
    if (!GetDlgItem(box, IDRETRY)) return fail("the box has no Retry button");
    std::string text;
    EnumChildWindows(box, collectStatic, reinterpret_cast<LPARAM>(&text));
    printf("%s\n", text.c_str());
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDRETRY, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDRETRY)));
    return 0;
  }
  if (cmd == "menu" && argc > 2) {
    HWND main = skelby();
    if (!main) return fail("Skelby is not running");
    PostMessageA(main, WM_COMMAND, MAKEWPARAM(atoi(argv[2]), 0), 0);
    return 0;
  }
  if (cmd == "boxowner") {
    HWND box = skelbyDialog(argc > 2 ? atoi(argv[2]) : 3000, Kind::message);
    if (!box) return fail("no message box");
    HWND owner = GetWindow(box, GW_OWNER);
    printf("%s\n", owner == skelby() ? "main" : owner ? "other" : "none");
    return 0;
  }
  if (cmd == "namebox") {
    HWND dialog = skelbyDialog(argc > 2 ? atoi(argv[2]) : 5000, Kind::save);
    if (!dialog) return fail("no save dialog");
    RECT r;
    GetWindowRect(fileNameBox(dialog), &r);
    printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    return 0;
  }
  if (cmd == "cancel") {
    HWND dialog = skelbyDialog(argc > 2 ? atoi(argv[2]) : 3000, Kind::save);
    if (!dialog) return fail("no save dialog");
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return 0;
  }
  if (cmd == "box") {
    HWND box = skelbyDialog(argc > 2 ? atoi(argv[2]) : 3000, Kind::message);
    if (!box) return fail("no message box");
    std::string text;
    EnumChildWindows(box, collectStatic, reinterpret_cast<LPARAM>(&text));
    printf("%s\n", text.c_str());
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    return 0;
  }
  if (cmd == "settings" && argc > 3) {
    PostMessageA(skelby(), WM_COMMAND, MAKEWPARAM(999, 0), 0);
    HWND dialog = skelbyDialog(5000);
    if (!dialog) return fail("no settings dialog");
    Sleep(300);
    const LRESULT codec = SendDlgItemMessageA(dialog, 220, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                              reinterpret_cast<LPARAM>(argv[2]));
    if (codec == CB_ERR) return fail("codec not listed");
    SendDlgItemMessageA(dialog, 220, CB_SETCURSEL, codec, 0);
    SendDlgItemMessageA(dialog, 222, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
    // The dialog opens on "Lossless" whatever was chosen before.
    if (argc > 4) SendDlgItemMessageA(dialog, 221, CB_SETCURSEL, static_cast<WPARAM>(atoi(argv[4])), 0);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(223, BN_CLICKED), 0);
    waitUntilClosed(dialog, 5000);
    return 0;
  }
  if (cmd == "destination" && argc > 2) {
    HWND chooser = control(1002);
    if (!chooser) return fail("no file chooser");
    PostMessageA(skelby(), WM_COMMAND, MAKEWPARAM(1002, BN_CLICKED), reinterpret_cast<LPARAM>(chooser));
    HWND dialog = skelbyDialog(5000, Kind::save);
    if (!dialog) return fail("no save dialog");
    Sleep(300);
    // The name box of the save dialog: a combo box (1148) or an edit (1152).
    HWND name = GetDlgItem(dialog, 1148);
    if (!name) name = GetDlgItem(dialog, 1152);
    if (!name) return fail("no file name box");
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[2]));
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    waitUntilClosed(dialog, 5000);
    return 0;
  }
  if (cmd == "controls" && argc > 2) {
    HWND parent = skelby();
    if (!parent) return fail("Skelby is not running");
    if (strcmp(argv[2], "settings") == 0) {
      PostMessageA(parent, WM_COMMAND, MAKEWPARAM(999, 0), 0);
      parent = settingsDialog(10000);
      if (!parent) return fail("no Export Settings dialog");
      Sleep(300);
    }
    HDC screen = GetDC(nullptr);
    ControlList list = {parent, GetDeviceCaps(screen, LOGPIXELSX)};
    ReleaseDC(nullptr, screen);
    RECT r = {};
    GetClientRect(parent, &r);
    MapWindowPoints(parent, nullptr, reinterpret_cast<POINT*>(&r), 2);
    RECT outer = {};
    GetWindowRect(parent, &outer);
    printf("window\t%ld %ld %ld %ld\t%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom, outer.left,
           outer.top, outer.right, outer.bottom);
    EnumChildWindows(parent, printControl, reinterpret_cast<LPARAM>(&list));
    return 0;
  }
  if (cmd == "place" && argc > 6) {
    HWND c = reinterpret_cast<HWND>(static_cast<UINT_PTR>(strtoull(argv[2], nullptr, 10)));
    if (!IsWindow(c)) return fail("no such control");
    RECT outer = {}, client = {};
    GetWindowRect(c, &outer);
    GetClientRect(c, &client);
    POINT origin = {0, 0};
    ClientToScreen(c, &origin);
    HWND parent = GetParent(c);
    POINT at = {atoi(argv[3]) - (origin.x - outer.left), atoi(argv[4]) - (origin.y - outer.top)};
    ScreenToClient(parent, &at);
    // Alone, so nothing else draws over it; the others come back with it.
    const bool alone = argc > 7 && strcmp(argv[7], "alone") == 0;
    for (HWND other = GetWindow(parent, GW_CHILD); other; other = GetWindow(other, GW_HWNDNEXT)) {
      if (other == c) continue;
      if (alone && IsWindowVisible(other)) {
        SetPropA(other, "SkelbyDriverHidden", reinterpret_cast<HANDLE>(1));
        ShowWindow(other, SW_HIDE);
      } else if (!alone && RemovePropA(other, "SkelbyDriverHidden")) {
        ShowWindow(other, SW_SHOWNA);
      }
    }
    SetWindowPos(c, nullptr, at.x, at.y, atoi(argv[5]) + (outer.right - outer.left) - client.right,
                 atoi(argv[6]) + (outer.bottom - outer.top) - client.bottom, SWP_NOACTIVATE | SWP_NOZORDER);
    RedrawWindow(parent, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_ERASENOW);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(parent, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
    return 0;
  }
  if (cmd == "dismiss") {
    HWND dialog = settingsDialog(3000);
    if (!dialog) return fail("no Export Settings dialog");
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(151, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, 151)));
    waitUntilClosed(dialog, 5000);
    return 0;
  }
  if (argc < 3) return fail("missing argument");
  if (cmd == "item") {
    HWND list = control(987);
    if (!list) return fail("no list");
    const LRESULT index =
        SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(argv[2]));
    if (index == LB_ERR) return fail("entry not listed");
    SendMessageA(list, LB_SETTOPINDEX, index, 0);
    RECT r = {};
    if (SendMessageA(list, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r)) == LB_ERR) {
      return fail("no rectangle for the entry");
    }
    POINT centre = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ClientToScreen(list, &centre);
    printf("%ld %ld\n", centre.x, centre.y);
    return 0;
  }
  if (cmd == "select") {
    HWND list = control(987);
    if (!list) return fail("no list");
    // Refresh, then look for the entry; a window that is being shown or
    // retitled right now may miss one refresh, so try for a few seconds.
    LRESULT index = LB_ERR;
    for (int tries = 0; tries < 30 && index == LB_ERR; ++tries) {
      if (tries) Sleep(100);
      SendMessageA(skelby(), WM_COMMAND, MAKEWPARAM(988, BN_CLICKED), 0);  // Refresh
      index =
          SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(argv[2]));
    }
    if (index == LB_ERR) return fail("entry not listed");
    SendMessageA(list, LB_SETCURSEL, index, 0);
    const WORD note = argc > 3 && strcmp(argv[3], "dbl") == 0 ? LBN_DBLCLK : LBN_SELCHANGE;
    SendMessageA(skelby(), WM_COMMAND, MAKEWPARAM(987, note), reinterpret_cast<LPARAM>(list));
    return 0;
  }
  const int id = atoi(argv[2]);
  HWND c = control(id);
  if (!c) return fail("no such control");
  if (cmd == "set" && argc > 3) {
    SendMessageA(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
    return 0;
  }
  if (cmd == "check" && argc > 3) {
    SendMessageA(c, BM_SETCHECK, atoi(argv[3]) ? BST_CHECKED : BST_UNCHECKED, 0);
    return 0;
  }
  if (cmd == "press") {
    PostMessageA(skelby(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(c));
    return 0;
  }
  if (cmd == "center") {
    RECT r;
    GetWindowRect(c, &r);
    printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    return 0;
  }
  if (cmd == "text") {
    printf("%s\n", textOf(c).c_str());
    return 0;
  }
  if (cmd == "checked") {
    printf("%d\n", SendMessageA(c, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
    return 0;
  }
  if (cmd == "enabled") {
    printf("%d\n", IsWindowEnabled(c) ? 1 : 0);
    return 0;
  }
  return fail("unknown command");
}
