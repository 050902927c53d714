#pragma once

#include "QuickTimeTypes.h"

// Grab and Stop: the set-up and tear-down of one recording.

// Makes the offscreen frame, opens the movie at path and fixes the frame
// interval; true when grabbing may begin.
bool startRecording(const char* path);
// Finishes the movie and frees the frame; harmless when nothing records.
// noErr when the movie is written (or there was none); otherwise the code of
// the failure, and the movie is kept for the next stopRecording to write.
OSErr stopRecording();
// Lets go of a movie that could not be written: its file keeps what the
// last checkpoint holds.
void abandonRecording();
