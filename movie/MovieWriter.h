#pragma once
#include <cstdint>

#include "QuickTimeTypes.h"

class OffscreenFrame;

// The one movie file writer: a QuickTime movie with one video track whose
// samples are the recorded frames, each lasting the milliseconds it was shown
// for. A codec that compresses frames over time (H.264) is run as one
// compression sequence from open to finish, and only its key frames are
// sync samples; every other codec compresses each frame by itself.
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
  // leaves nothing held. A sequence codec's encoder is made here, so an
  // encoder that cannot start is told now, with no file made. The file at path is not touched: the
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
  // it; encoderFailed says that it was a sequence's encoder. A file that
  // could not be created is let go of at once. A sequence frame that was
  // compressed but not appended leaves no later frame referring to it: the
  // next one is made a key frame.
  bool addFrame(OffscreenFrame* frame, int32_t duration);
  // Ends the compression sequence, if any, then writes the movie into its
  // file and closes it; false when nothing is open
  // or when it fails. After a failure (lastError says why) the movie and its
  // file stay held, playable up to the last fragment, and the next finish
  // tries again.
  bool finish();
  // Lets go of a movie that finish could not write (and of a compression
  // sequence still running): the file keeps what its last fragment holds.
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
  // Whether the last addFrame failed in the sequence's encoder.
  bool encoderFailed;
  // The running compression sequence; 0 when the codec compresses each
  // frame by itself, or none is open.
  ImageSequence sequence;
  // What the movie holds so far: the milliseconds and the compressed bytes
  // of the frames appended since open.
  int64_t appendedDuration;
  uint64_t appendedBytes;

 private:
  bool createFile();
  bool beginSequence(PixMapHandle pixels, CodecQ quality);
  void endSequence();
  void releaseMovie();
  OSErr compress(PixMapHandle pixels, CodecQ quality, int32_t sampleDuration, int16_t& sampleFlags);
  bool createTrackAndMedia(int16_t width, int16_t height);

  int16_t width_;
  int16_t height_;
  // How far finish got, so that trying again does not repeat a step.
  bool editing_;
  bool inserted_;
  // The next sequence frame must be a key frame: the one before it was not
  // stored, so nothing may refer to it.
  bool forceKeyFrame_;
  // Media time at which the last key frame starts.
  int64_t lastKeyFrameTime_;
};

// Whether frames of this codec are compressed as a sequence, each possibly
// referring to the ones before it.
bool compressesOverTime(CodecType type);
// The key frame distance asked of a sequence: the frames of two seconds at
// the frame interval, at least 1.
int32_t keyFrameRateFor(int32_t frameDurationMs);
// The longest media time from one key frame to the next.
constexpr int32_t kLongestKeyFrameDistanceMs = 2000;

extern MovieWriter movieWriter;
