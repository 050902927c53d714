#pragma once
#include <cstdint>

// Pause and Resume. The time a recording spends paused belongs to no frame:
// the time between the last frame and Pause is kept, and added to the time
// after Resume, so the first frame after Resume comes when a whole interval
// of recorded time has passed and lasts that long. The movie's clock is the
// recording's clock with the paused stretches cut out, at the pace it had.

// The grabber's reference once a pause from pausedAt to resumedAt is over:
// moved on by the pause's length. Clock readings are unsigned 32-bit and wrap
// (about every 49.7 days), possibly during the pause; differences and the move
// are formed modulo 2^32, which stays right across the wrap. 0 means that no
// reference has been taken yet and stays 0; a moved reference that lands on 0
// is put one millisecond back, so it is not taken for "none" (the next frame
// then lasts one millisecond longer).
uint32_t referenceAfterPause(uint32_t reference, uint32_t pausedAt, uint32_t resumedAt);

// The state of the running recording's pause, owned by the one thread.
bool recordingPaused();
// Pauses the running recording: no frame is taken until resumeRecording.
void pauseRecording();
// Resumes it: the grabber's reference moves on by the time spent paused.
void resumeRecording();
// Forgets a pause, at the end of a recording (Stop, Exit, a failure): the
// next recording starts unpaused.
void clearPause();
