#pragma once
#include <cstdint>

#include "QuickTimeTypes.h"

// Grab and Stop: the set-up and tear-down of one recording.

// Makes the offscreen frame, makes the movie writer ready for path and fixes
// the frame interval; true when grabbing may begin. A size of 16 or less is
// replaced by 320 x 240 first. Everything is checked before the movie file
// is made (the first frame makes it), and every failure is told: no
// destination, a frame duration or size that cannot be recorded, a
// destination that cannot be written (the file there is left as it was),
// the frame, the codec, memory. A failed start holds nothing.
bool startRecording(const char* path);
// Whether a movie file could be made at path, asked without changing what
// is there: noErr, or the library's code for the failure. A file made to
// ask is removed again.
OSErr probeDestination(const char* path);
// Finishes the movie and frees the frame; harmless when nothing records.
// noErr when the movie is written and its file closed (or there was none);
// otherwise the code of the failure. The movie is then kept for the next
// stopRecording to write (movieAwaitsFinish), unless it was its file that
// would not close: that leaves nothing to try again.
OSErr stopRecording();
// True once the running recording has made its movie file, at its first
// frame: before that, stopping it leaves the destination as it was.
bool recordingHasFile();
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
extern const char kNoDestinationMessage[];
extern const char kOutOfMemoryMessage[];
extern const char kFrameDurationRefusedMessage[];
