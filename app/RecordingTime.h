#pragma once
#include <cstddef>
#include <cstdint>

// The second part of the status bar while a recording runs or is paused:
// how long the movie is so far and how big its file is ("00:01:23  12.4 MB").
// The first part keeps its own texts.

// Splits the status bar in two and shows the recording's start.
void showRecordingTime();
// Called on every turn of the main loop while grabbing: costs a look at the
// tick count, and shows the length and size again about once a second.
void updateRecordingTime();
// Back to one part, at the end of a recording.
void hideRecordingTime();

// "hh:mm:ss  n.n MB" (or "n.nn GB" from 1024 MB on): milliseconds are cut
// to whole seconds, bytes shown in units of 1024 x 1024.
void formatRecordingTime(char* text, size_t size, int64_t milliseconds, uint64_t bytes);
