#include "movie/MovieWriter.h"

#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "app/CaptureState.h"
#include "movie/CompressionSettings.h"
#include "movie/OffscreenFrame.h"
#include "platform/QuickTimeServices.h"

MovieWriter movieWriter;

namespace {

constexpr OSType kMovieCreator = fourCC("TVOD");
constexpr ScriptCode kCurrentScript = -2;
constexpr TimeScale kMillisecondsPerSecond = 1000;
constexpr Fixed kNormalRate = 0x10000;
// A length-prefixed name has one length byte.
constexpr size_t kMaxFileNameLength = 255;

// The boxes are modal to the main window, so no second Grab can start a
// recording inside a start that is failing.
void tellCannotCreateFile(OSErr error) {
  char text[64];
  std::snprintf(text, sizeof text, "Impossible To Create Movie File : Error %d", int(error));
  MessageBoxA(captureState.mainWindow, text, "error", MB_OK);
}

void tellCodecRefused(OSErr error) {
  char text[96];
  std::snprintf(text, sizeof text, "The codec cannot compress frames of this size : Error %d", int(error));
  MessageBoxA(captureState.mainWindow, text, "error", MB_OK);
}

// The codec's encoder for a sequence could not be made: a library without
// the codec's own DLL, or one that refused the size or ran out of memory.
void tellEncoderNotStarted(OSErr error) {
  char text[96];
  std::snprintf(text, sizeof text, "The codec could not start compressing : Error %d", int(error));
  MessageBoxA(captureState.mainWindow, text, "error", MB_OK);
}

void tellCannotAllocate() {
  MessageBoxA(captureState.mainWindow, "Could not allocate handle", nullptr, MB_OK);
}

PixMapHandle pixMapOf(const OffscreenFrame& frame) { return frame.gworld->portPixMap; }

}  // namespace

bool compressesOverTime(CodecType type) { return type == kH264CodecType; }

int32_t keyFrameRateFor(int32_t frameDurationMs) {
  if (frameDurationMs < 1) return 1;
  const int32_t frames = kLongestKeyFrameDistanceMs / frameDurationMs;
  return frames < 1 ? 1 : frames;
}

MovieWriter::MovieWriter()
    : movie(nullptr),
      track(nullptr),
      media(nullptr),
      fileRefNum(0),
      fileName(),
      maxCompressedSize(0),
      bounds(),
      dataHandle(nullptr),
      data(nullptr),
      imageDescription(nullptr),
      pendingDuration(0),
      lastError(noErr),
      frameCompressed(false),
      encoderFailed(false),
      sequence(0),
      appendedDuration(0),
      appendedBytes(0),
      width_(0),
      height_(0),
      editing_(false),
      inserted_(false),
      forceKeyFrame_(false),
      lastKeyFrameTime_(0) {}

// Runs at process exit, after QuickTime has been stopped: no call would reach
// it. The shutdown path finishes or abandons the movie before that.
MovieWriter::~MovieWriter() = default;

bool MovieWriter::open(const char* path, OffscreenFrame* frame) {
  // Only a caller's mistake gets here without a path or a made frame: the
  // frame has told its own failure.
  if (!path || !frame || !frame->gworld) return false;
  // A movie left by an earlier recording whose finish failed is completed,
  // or let go of, before its references are overwritten.
  if (movie || dataHandle || imageDescription) {
    finish();
    abandon();
  }
  pendingDuration = 0;
  forceKeyFrame_ = false;
  lastKeyFrameTime_ = 0;
  appendedDuration = 0;
  appendedBytes = 0;
  lastError = noErr;

  // A longer path would wrap the length byte into the name of some other file.
  if (std::strlen(path) > kMaxFileNameLength) {
    tellCannotCreateFile(bdNamErr);
    return false;
  }
  std::strcpy(fileName, path);
  c2pstr(fileName);
  width_ = frame->width;
  height_ = frame->height;
  MacSetRect(&bounds, 0, 0, frame->width, frame->height);
  resolveCodecType(compressionSettings.codecName);

  const CodecQ quality = qualityLevels[clampQualityIndex()].value;
  const OSErr sized = GetMaxCompressionSize(pixMapOf(*frame), &bounds, 0, quality,
                                            compressionSettings.codecType, anyCodec, &maxCompressedSize);
  if (sized != noErr || maxCompressedSize <= 0) {
    tellCodecRefused(sized != noErr ? sized : OSErr(codecErr));
    return false;
  }

  dataHandle = NewHandle(maxCompressedSize);
  if (!dataHandle) {
    tellCannotAllocate();
    return false;
  }
  MoveHHi(dataHandle);
  HLock(dataHandle);
  data = *dataHandle;

  // Grown by every compression to the frame's full description.
  imageDescription = reinterpret_cast<ImageDescriptionHandle>(NewHandle(4));
  if (!imageDescription) {
    tellCannotAllocate();
    finish();  // lets go of the data block; there is no movie yet
    return false;
  }
  if (compressesOverTime(compressionSettings.codecType) && !beginSequence(pixMapOf(*frame), quality)) {
    finish();  // lets go of the blocks; there is no movie yet
    return false;
  }
  return true;
}

// The sequence fills the image description at once, so the first frame's
// sample description is complete whichever frame comes first.
bool MovieWriter::beginSequence(PixMapHandle pixels, CodecQ quality) {
  ImageSequence made = 0;
  const OSErr began = CompressSequenceBegin(
      &made, pixels, nullptr, &bounds, nullptr, 0, compressionSettings.codecType, anyCodec, quality, quality,
      keyFrameRateFor(compressionSettings.frameDurationMs), nullptr, 0, imageDescription);
  if (began != noErr || made == 0) {
    tellEncoderNotStarted(began != noErr ? began : OSErr(codecErr));
    return false;
  }
  sequence = made;
  return true;
}

// A failure to end is of no use to anyone: the frames are in the movie
// already, and the sequence is gone either way.
void MovieWriter::endSequence() {
  if (sequence == 0) return;
  CDSequenceEnd(sequence);
  sequence = 0;
}

OSErr MovieWriter::compress(PixMapHandle pixels, CodecQ quality, int32_t sampleDuration,
                            int16_t& sampleFlags) {
  sampleFlags = 0;
  if (sequence == 0)
    return CompressImage(pixels, &bounds, quality, compressionSettings.codecType, imageDescription, data);
  // Whatever the library's own count and clock decide, the movie gets a key
  // frame at least every two seconds of its own time, so a player seeking
  // anywhere decodes from at most that far back, however unevenly frames
  // came (a slow copy, a long frame after a pause).
  CodecFlags flags = 0;
  if (forceKeyFrame_ || appendedDuration + sampleDuration - lastKeyFrameTime_ > kLongestKeyFrameDistanceMs)
    flags |= codecFlagForceKeyFrame;
  int32_t size = 0;
  uint8_t similarity = 0;
  const OSErr error =
      CompressSequenceFrame(sequence, pixels, &bounds, flags, data, &size, &similarity, nullptr);
  if (error != noErr) return error;
  // A sample of nothing would be a lost frame reported as kept.
  if (size <= 0 || size > maxCompressedSize) return codecErr;
  (*imageDescription)->dataSize = size;
  sampleFlags = similarity != 0 ? int16_t(mediaSampleNotSync) : int16_t(0);
  return noErr;
}

// The file is made only once a frame is ready to go into it. Whatever fails
// here leaves no movie held: the recording cannot go on, and nothing of it
// is left to save or to try again.
bool MovieWriter::createFile() {
  const ConstStr255Param name = reinterpret_cast<const unsigned char*>(fileName);
  FSSpec spec = {};
  FSMakeFSSpec(0, 0, name, &spec);  // the file usually does not exist yet
  const OSErr created = CreateMovieFile(
      &spec, kMovieCreator, kCurrentScript,
      int32_t(createMovieFileDeleteCurFile | createMovieFileDontCreateResFile), &fileRefNum, &movie);
  if (created != noErr || !movie) {
    const OSErr error = GetMoviesError();
    // A file opened without a movie to write into it is closed again.
    if (created == noErr && fileRefNum != 0) CloseMovieFile(fileRefNum);
    movie = nullptr;
    fileRefNum = 0;
    lastError = error != noErr ? error : created != noErr ? created : OSErr(ioErr);
    return false;
  }
  if (!createTrackAndMedia(width_, height_)) {
    const OSErr error = GetMoviesError();
    lastError = error != noErr ? error : OSErr(memFullErr);
    // The sequence stays: the next frame, a key frame, may make the file.
    releaseMovie();
    return false;
  }
  return true;
}

bool MovieWriter::createTrackAndMedia(int16_t width, int16_t height) {
  if (!movie) return false;
  track = NewMovieTrack(movie, FixRatio(width, 1), FixRatio(height, 1), 0);
  if (!track) return false;
  // No data reference: the samples go into the movie's own file.
  media = NewTrackMedia(track, VideoMediaType, kMillisecondsPerSecond, nullptr, 0);
  if (!media) return false;
  editing_ = BeginMediaEdits(media) == noErr;
  inserted_ = false;
  return editing_;
}

bool MovieWriter::addFrame(OffscreenFrame* frame, int32_t duration) {
  const CodecQ quality = qualityLevels[clampQualityIndex()].value;
  frameCompressed = false;
  encoderFailed = false;
  // Only an open writer has somewhere to put the frame.
  if (!frame || !frame->gworld || !data || !imageDescription) {
    lastError = paramErr;
    return false;
  }

  const int64_t total = int64_t(pendingDuration) + (duration > 0 ? duration : 0);
  const int32_t sampleDuration = total > INT32_MAX ? INT32_MAX : int32_t(total);
  const PixMapHandle pixels = pixMapOf(*frame);
  LockPixels(pixels);
  // Until one compression succeeded the description holds no size, and a
  // failed one leaves a stale size, so a failed frame is not appended: its
  // time goes to the next one.
  int16_t sampleFlags = 0;
  lastError = compress(pixels, quality, sampleDuration, sampleFlags);
  frameCompressed = lastError == noErr;
  encoderFailed = !frameCompressed && sequence != 0;
  if (frameCompressed && (movie || createFile())) {
    const int32_t size = (*imageDescription)->dataSize;
    lastError = AddMediaSample(media, dataHandle, 0, uint32_t(size), sampleDuration, imageDescription, 1,
                               sampleFlags, nullptr);
  }
  UnlockPixels(pixels);
  const bool appended = lastError == noErr;
  pendingDuration = appended ? 0 : sampleDuration;
  // The encoder codes the next frame against this one: if this one is not
  // in the movie, the next must stand alone.
  forceKeyFrame_ = !appended;
  if (appended) {
    if (sampleFlags == 0) lastKeyFrameTime_ = appendedDuration;
    appendedDuration += sampleDuration;
    appendedBytes += uint32_t((*imageDescription)->dataSize);
  }
  return appended;
}

bool MovieWriter::finish() {
  // Before the description goes: the sequence writes into it.
  endSequence();
  if (imageDescription) {
    DisposeHandle(reinterpret_cast<Handle>(imageDescription));
    imageDescription = nullptr;
  }
  if (dataHandle) {
    HUnlock(dataHandle);
    DisposeHandle(dataHandle);
    dataHandle = nullptr;
    data = nullptr;
  }
  if (!movie) return false;
  // Every step is checked: a movie not written is not reported as written.
  // What failed is kept, with the file, for the next try.
  if (editing_) {
    if ((lastError = EndMediaEdits(media)) != noErr) return false;
    editing_ = false;
  }
  if (media && !inserted_) {
    if ((lastError = InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), kNormalRate)) != noErr)
      return false;
    inserted_ = true;
  }
  int16_t resourceId = movieInDataForkResID;
  lastError =
      AddMovieResource(movie, fileRefNum, &resourceId, reinterpret_cast<const unsigned char*>(fileName));
  if (lastError != noErr) return false;
  // The movie is in the file; a failure to close it leaves nothing to retry.
  if (fileRefNum != 0) lastError = CloseMovieFile(fileRefNum);
  DisposeMovie(movie);
  fileRefNum = 0;
  track = nullptr;
  media = nullptr;
  movie = nullptr;
  return lastError == noErr;
}

void MovieWriter::abandon() {
  endSequence();
  releaseMovie();
}

void MovieWriter::releaseMovie() {
  if (fileRefNum != 0) CloseMovieFile(fileRefNum);
  if (movie) DisposeMovie(movie);
  fileRefNum = 0;
  track = nullptr;
  media = nullptr;
  movie = nullptr;
  editing_ = false;
  inserted_ = false;
}

int32_t MovieWriter::frameDuration() const { return compressionSettings.frameDurationMs; }
