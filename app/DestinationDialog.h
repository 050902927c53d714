#pragma once
#include <cstddef>

// The save dialog that chooses where the next movie goes.

// Shows the dialog, modal to the main window, and takes the name chosen as
// the destination path. Cancelling keeps the path, and so does a name too
// long for a movie file, after the message the movie writer gives for one.
void chooseDestination();

// The length of the path the save dialog makes of a typed name: name as it
// is when it carries a drive or a server, on the folder's drive when it
// starts at a root, else in folder; with "." and extension added when its
// last part has no extension. 0 for an empty name.
size_t chosenPathLength(const char* folder, const char* name, const char* extension);

// The longest destination path: a movie file's name is length-prefixed by
// one byte.
constexpr size_t kLongestDestination = 255;
