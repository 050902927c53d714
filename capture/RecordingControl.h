#pragma once

// Grab and Stop: the set-up and tear-down of one recording.

// Makes the offscreen frame, opens the movie at path and fixes the frame
// interval; true when grabbing may begin.
bool startRecording(const char* path);
// Finishes the movie and frees the frame; harmless when nothing records.
void stopRecording();
