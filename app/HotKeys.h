#pragma once
#include <windows.h>

#include <cstddef>

// Keys that reach Skelby from any window, registered on the main window for
// as long as Skelby runs: Ctrl+Alt+F9 for Grab/Stop, Ctrl+Alt+F10 for
// Pause/Resume. A key press is handed to the window as the command its
// button sends, so it is obeyed or refused as a click would be.

// Registers both keys. A key that another program already holds stays
// unregistered: the status bar says so, once, and the command keeps its
// button and menu item.
void registerHotKeys(HWND mainWindow);
void unregisterHotKeys(HWND mainWindow);
// The command (IDC_GRAB, IDC_PAUSE) of a WM_HOTKEY's id; 0 for none of ours.
int commandOfHotKey(WPARAM id);
// A menu item's text: the label, then a tab and the key when the command's
// key is registered ("&Pause\tCtrl+Alt+F10").
void formatMenuText(char* item, size_t size, const char* label, int command);
// What the status bar says when keys are held elsewhere; names lists them.
void formatKeysTaken(char* text, size_t size, const char* names);
