// Another program that holds a key Skelby wants: registers Ctrl+Alt+F9 (or
// the virtual key given) for itself, then shows a small window with the title
// given, so a script knows the key is held once the window is there. Runs
// until closed or killed.
//   KeyHolder.exe TITLE [VK]
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  const char* title = argc > 1 ? argv[1] : "Skelby Key Holder";
  const UINT key = argc > 2 ? UINT(strtoul(argv[2], nullptr, 0)) : VK_F9;
  if (!RegisterHotKey(nullptr, 1, MOD_CONTROL | MOD_ALT, key)) return 2;
  HWND window = CreateWindowExA(0, "STATIC", title, WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 40, 700, 240, 80,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!window) return 1;
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
