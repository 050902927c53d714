#pragma once
#include <cstdint>

#include "QuickTimeTypes.h"

class OffscreenFrame;

// The one movie file writer: a QuickTime movie with one video track whose
// samples are the recorded frames, each compressed by itself and lasting the
// milliseconds it was shown for.
class MovieWriter {
 public:
  MovieWriter();
  ~MovieWriter();
  MovieWriter(const MovieWriter&) = delete;
  MovieWriter& operator=(const MovieWriter&) = delete;

  // Creates the movie file at path (replacing any file there) for frames of
  // the frame's size; true when it is ready to take frames.
  bool open(const char* path, OffscreenFrame* frame);
  // Compresses the frame and appends it as one sample of duration ms.
  bool addFrame(OffscreenFrame* frame, int32_t duration);
  // Writes the movie into its file and closes it; harmless when nothing is
  // open (then false).
  bool finish();
  // The frame duration of the compression settings, in milliseconds.
  int32_t frameDuration() const;

  Movie movie;
  Track track;
  Media media;
  int16_t fileRefNum;
  char fileName[260];
  int32_t maxCompressedSize;
  Rect bounds;
  Handle dataHandle;
  Ptr data;
  ImageDescriptionHandle imageDescription;

 private:
  bool createTrackAndMedia(int16_t width, int16_t height);
  void abandon();
};

extern MovieWriter movieWriter;
