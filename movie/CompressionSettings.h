#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "QuickTimeTypes.h"

// How frames are compressed and how often one is taken. Built-in defaults at
// every start; only the Export Settings dialog changes them.
struct CompressionSettings {
  char codecName[300] = "";
  CodecType codecType = 0x726C6520;  // 'rle ', the Animation codec
  int32_t qualityIndex = 0;          // row of qualityLevels
  int32_t frameDurationMs = 100;     // never below 1
};

extern CompressionSettings compressionSettings;

struct QualityLevel {
  const char* label;
  CodecQ value;
};
// "Lossless", "Minimum", "Low", "Normal", "High", "Maximum", in that order.
extern const QualityLevel qualityLevels[6];

// Receives one codec name at a time while the dialog fills its list.
extern char codecListEntry[300];

// Copies the display name of codec number index into codecListEntry.
bool fetchCodecName(int32_t index);
// Sets codecType to the type of the first codec listed under name, or to
// 'rle ' when none is; keeps it (after a message) when QuickTime lists none.
void resolveCodecType(const char* name);
// Runs the Export Settings dialog, owned by the main window (the foreground
// window when there is none); false when it was cancelled (nothing changed
// then) or could not be shown.
bool showExportSettings();
// The dialog's procedure: handles its initialisation and its two buttons.
INT_PTR CALLBACK exportSettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The entry's display name as zero-terminated text, the rest of text zeroed.
void codecDisplayName(const CodecNameSpec& entry, char (&text)[300]);
// Brings qualityIndex into 0..5, stores it back and returns it.
int32_t clampQualityIndex();
// The frame duration typed in the dialog: an unsigned decimal number from 1
// to 2^31-1; anything else (empty, not all digits, zero, 2^31 and above)
// gives 0, which the dialog refuses with kFrameDurationRefused.
int32_t parseFrameDuration(const char* text);
extern const char kFrameDurationRefused[];
// What the frame duration field takes of a paste: true, with digits set,
// when text is a whole number once spaces and line ends around it are
// dropped; false (a paste to refuse) for anything else.
bool pastedDuration(const char* text, std::string& digits);
