// A QuickTime.qts for tests: every operation the program calls, answering
// what the test asks for and noting what it was handed. Handles are real
// blocks and graphics worlds are real DIB sections with a memory DC, so the
// program can use what it gets; movies, tracks and media are only tokens.
//
// The test reaches the state through the library's extra export
// "fakeQuickTimeState" once the loader has bound the library.
#pragma once

#include <cstdint>

#include "QuickTimeTypes.h"

struct FakeCodec {
  CodecType type;
  uint8_t nameLength;  // the length byte as listed; may lie beyond 31
  char name[40];
};

struct FakeQuickTimeState {
  // --- what the library answers (reset gives the happy path)
  OSErr createMovieFileResult;
  bool createMovieFileGivesMovie;
  OSErr moviesErrorAfterCreateFailure;
  bool newMovieTrackFails;
  bool newTrackMediaFails;
  OSErr beginMediaEditsResult;
  OSErr endMediaEditsResult;
  OSErr maxCompressionSizeResult;
  int32_t maxCompressionSize;
  int32_t failNewHandleOfSize;  // NewHandle of this size gives null; -1: none
  OSErr compressImageResult;
  int32_t compressedSize;
  OSErr addMediaSampleResult;
  OSErr insertMediaResult;
  OSErr addMovieResourceResult;
  OSErr closeMovieFileResult;
  OSErr newGWorldResult;
  bool portHDCFails;  // GetPortHDC gives no device context
  OSErr codecNameListResult;
  int16_t codecCount;
  FakeCodec codecs[8];
  // Compression sequences. A frame is a key frame when it is the first of
  // its sequence, when it is forced, or when keyFrameRate frames have passed
  // since the last one; every other frame refers to the frame compressed
  // just before it and reports nonKeySimilarity (0 makes it a key frame).
  OSErr sequenceBeginResult;
  bool sequenceBeginGivesNone;  // noErr, but no sequence
  OSErr sequenceFrameResult;
  uint8_t nonKeySimilarity;
  int32_t deltaFrameSize;  // bytes of a frame that is not a key frame

  // --- what the library saw
  char log[8192];          // operation names in call order, each followed by a blank
  int32_t doubleReleases;  // a handle, movie, list or world released twice or never made
  int32_t liveHandles;
  int32_t liveMovies;
  int32_t liveCodecLists;
  int32_t liveWorlds;
  int32_t openFiles;
  int32_t worldsDisposedWithLiveDC;  // the program did not delete the DC first
  unsigned char specName[256];
  OSType creator;
  ScriptCode script;
  int32_t createFlags;
  Fixed trackWidth;
  Fixed trackHeight;
  OSType mediaType;
  TimeScale timeScale;
  CodecQ maxSizeQuality;
  CodecType maxSizeType;
  Rect maxSizeBounds;
  CodecQ compressQuality;
  CodecType compressType;
  int32_t samples;
  uint32_t lastSampleSize;
  TimeValue sampleDurations[32];
  int16_t lastSampleFlags;
  int32_t lastSampleCount;
  TimeValue mediaDuration;
  TimeValue insertedDuration;
  Fixed insertedRate;
  int16_t resourceId;
  unsigned char resourceName[256];
  int16_t closedRefNum;
  OSType worldPixelFormat;
  Rect worldBounds;
  int32_t lockedPixels;  // LockPixels not yet matched by UnlockPixels
  int16_t sampleFlags[32];
  int32_t samplesInMedia;  // since the last NewTrackMedia
  // What the sequences were given and did.
  int32_t sequencesBegun;
  int32_t sequencesEnded;
  int32_t liveSequences;
  CodecType sequenceType;
  CodecQ spatialQuality;
  CodecQ temporalQuality;
  int32_t keyFrameRate;
  Rect sequenceBounds;
  bool sequenceGotPrevious;  // a previous pixel map or rectangle was passed
  int32_t sequenceFrames;
  CodecFlags frameFlags[32];
  bool frameKey[32];
  // Samples appended as not sync whose frame refers to a frame that is not
  // in the media, and samples whose sync flag contradicts their frame.
  int32_t brokenReferences;
  int32_t flagMismatches;
};

// Exported by the fake library under this name.
typedef FakeQuickTimeState* (*FakeQuickTimeStateFunction)();
