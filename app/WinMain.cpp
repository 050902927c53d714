#include <windows.h>

#include "app/Skelby.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int showCommand) {
  return skelbyMain(instance, previous, showCommand);
}
