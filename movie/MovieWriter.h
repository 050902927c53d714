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

  // Makes ready everything a movie of the frame's size needs, except its
  // file: the codec's answer to the frame and the blocks a frame is
  // compressed into. True when it is ready to take frames; a failure is
  // told (all but a caller's mistake: no path, or a frame never made), and
  // leaves nothing held. The file at path is not touched: the
  // first frame that is appended creates it (replacing any file there), so a
  // recording that never gets a frame leaves the destination as it was.
  bool open(const char* path, OffscreenFrame* frame);
  // True once the movie file exists, made by the first frame.
  bool fileCreated() const { return movie != nullptr; }
  // Compresses the frame and appends it as one sample of duration ms, plus
  // the time of the frames before it that could not be appended, so that the
  // movie lasts as long as the recording. False when the frame is not in the
  // movie; lastError then says why (paramErr when there is no frame or no
  // open movie), and frameCompressed whether it was the file that failed
  // (it could not be created, or takes no more frames) or what came before
  // it. A file that could not be created is let go of at once.
  bool addFrame(OffscreenFrame* frame, int32_t duration);
  // Writes the movie into its file and closes it; false when nothing is open
  // or when it fails. After a failure (lastError says why) the movie and its
  // file stay held, playable up to the last fragment, and the next finish
  // tries again.
  bool finish();
  // Lets go of a movie that finish could not write: the file keeps what its
  // last fragment holds.
  void abandon();
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
  // Milliseconds of frames not appended yet, given to the next that is.
  int32_t pendingDuration;
  // Why the last append or finish failed; noErr after a success.
  OSErr lastError;
  // Whether the last addFrame got as far as a compressed frame.
  bool frameCompressed;
  // What the movie holds so far: the milliseconds and the compressed bytes
  // of the frames appended since open.
  int64_t appendedDuration;
  uint64_t appendedBytes;

 private:
  bool createFile();
  bool createTrackAndMedia(int16_t width, int16_t height);

  int16_t width_;
  int16_t height_;
  // How far finish got, so that trying again does not repeat a step.
  bool editing_;
  bool inserted_;
};

extern MovieWriter movieWriter;
