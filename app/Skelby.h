#pragma once
#include <windows.h>

// The whole run: start-up, the main loop, shutdown. Returns the exit code.
int skelbyMain(HINSTANCE instance, HINSTANCE previous, int showCommand);
// Spins until a quit is requested; never waits. Returns the parameter of the
// last message taken from the queue.
int runMainLoop();
