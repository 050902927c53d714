#pragma once
#include <windows.h>

// The whole run: start-up, the main loop, shutdown. Returns the exit code.
int skelbyMain(HINSTANCE instance, HINSTANCE previous, int showCommand);
// One turn of the main loop: while grabbing, a grab (or a look for the
// target), then at most one message, taken into msg.
void runMainLoopTurn(MSG& msg);
// Spins until a quit is requested; never waits. Returns the parameter of the
// last message taken from the queue.
int runMainLoop();
