#pragma once
#include <cstdint>

#include "QuickTimeTypes.h"

// Grab and Stop: the set-up and tear-down of one recording.

// Makes the offscreen frame, opens the movie at path and fixes the frame
// interval; true when grabbing may begin. A size of 16 or less is replaced
// by 320 x 240 first; a size that cannot be recorded is refused with
// kSizeRefusedMessage, before any file is made.
bool startRecording(const char* path);
// Finishes the movie and frees the frame; harmless when nothing records.
// noErr when the movie is written and its file closed (or there was none);
// otherwise the code of the failure. The movie is then kept for the next
// stopRecording to write (movieAwaitsFinish), unless it was its file that
// would not close: that leaves nothing to try again.
OSErr stopRecording();
// True while a movie that could not be written is kept for another try.
bool movieAwaitsFinish();
// Lets go of a movie that could not be written: its file keeps what the
// last fragment holds.
void abandonRecording();

// The largest frame a recording takes. A side is at most 32767: the movie's
// track size is a 16.16 number and the graphics world's a 16-bit one, so a
// larger one would wrap to another size. A frame is at most 2^26 pixels
// (256 MB at 32 bits a pixel): it, and the compressed copy of it that is
// kept beside it, must fit in the memory of a 32-bit process.
constexpr int32_t kLargestSide = 32767;
constexpr int64_t kLargestFramePixels = int64_t(1) << 26;
bool outputSizeRecordable(int32_t width, int32_t height);
extern const char kSizeRefusedMessage[];
