// The test library's operations. Each one notes its name in the log, checks
// what it can and answers as the state says.
#include "FakeQuickTime.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <set>

#include "Operations.h"

namespace {

FakeQuickTimeState state;
std::set<void*> liveHandles, liveMovies, liveLists, liveWorlds;
int16_t nextRefNum = 1;
std::set<ImageSequence> liveSequences;
ImageSequence nextSequence = 1;

// The frames of the running sequences, numbered in compression order, and
// what the media holds of them.
struct FrameTrail {
  int32_t sinceKey = 0;
  int32_t lastCompressed = -1;
  int32_t refersTo = -1;  // -1: a key frame
  int32_t lastStored = -1;
} trail;

struct Token {
  int kind;
};

void note(const char* name) {
  const size_t used = std::strlen(state.log);
  if (used + std::strlen(name) + 2 < sizeof state.log) {
    std::strcat(state.log, name);
    std::strcat(state.log, " ");
  }
}

void reset() {
  std::memset(&state, 0, sizeof state);
  state.createMovieFileGivesMovie = true;
  state.maxCompressionSize = 4096;
  state.failNewHandleOfSize = -1;
  state.compressedSize = 1000;
  state.nonKeySimilarity = 1;
  state.deltaFrameSize = 100;
  trail = FrameTrail();
  state.liveSequences = int32_t(liveSequences.size());
  const FakeCodec codecs[] = {
      {fourCC("rle "), 9, "Animation"},
      {fourCC("raw "), 4, "None"},
      {fourCC("jpeg"), 12, "Photo - JPEG"},
      {fourCC("png "), 3, "PNG"},
  };
  state.codecCount = 4;
  std::memcpy(state.codecs, codecs, sizeof codecs);
  state.liveHandles = int32_t(liveHandles.size());
  state.liveMovies = int32_t(liveMovies.size());
  state.liveCodecLists = int32_t(liveLists.size());
  state.liveWorlds = int32_t(liveWorlds.size());
}

bool release(std::set<void*>& live, void* p, int32_t& count) {
  if (!live.erase(p)) {
    ++state.doubleReleases;
    return false;
  }
  --count;
  return true;
}

Handle makeHandle(int32_t size) {
  Handle h = static_cast<Handle>(std::malloc(sizeof(Ptr)));
  *h = static_cast<Ptr>(std::calloc(1, size > 0 ? size_t(size) : 1));
  liveHandles.insert(h);
  ++state.liveHandles;
  return h;
}

struct World {
  CGrafPort port;
  PixMap pixMap;
  PixMapPtr pixMapPointer;
  HBITMAP bitmap;
  HGDIOBJ oldBitmap;
  HDC dc;
};

}  // namespace

extern "C" __declspec(dllexport) FakeQuickTimeState* fakeQuickTimeState() { return &state; }
extern "C" __declspec(dllexport) void fakeQuickTimeReset() { reset(); }

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) reset();
  return TRUE;
}

namespace qtlib {

OSErr EnterMovies() { return noErr; }
void ExitMovies() {}
OSErr GetMoviesError() { return state.moviesErrorAfterCreateFailure; }
void memoryRanOut() { state.moviesErrorAfterCreateFailure = memFullErr; }

void DisposeMovie(Movie movie) {
  note("DisposeMovie");
  if (release(liveMovies, movie, state.liveMovies)) delete reinterpret_cast<Token*>(movie);
}

TimeValue GetMediaDuration(Media) {
  note("GetMediaDuration");
  return state.mediaDuration;
}
OSErr BeginMediaEdits(Media) {
  note("BeginMediaEdits");
  return state.beginMediaEditsResult;
}
OSErr EndMediaEdits(Media) {
  note("EndMediaEdits");
  return state.endMediaEditsResult;
}

OSErr AddMediaSample(Media, Handle data, int32_t offset, uint32_t size, TimeValue duration,
                     ImageDescriptionHandle, int32_t count, int16_t flags, TimeValue*) {
  note("AddMediaSample");
  if (!liveHandles.count(data) || offset != 0) return paramErr;
  if (state.addMediaSampleResult != noErr) return state.addMediaSampleResult;
  // As the library: a media starts with a key frame.
  if ((flags & mediaSampleNotSync) && state.samplesInMedia == 0) return paramErr;
  if (trail.lastCompressed >= 0) {
    const bool notSync = (flags & mediaSampleNotSync) != 0;
    if (notSync != (trail.refersTo >= 0)) ++state.flagMismatches;
    if (notSync && trail.refersTo != trail.lastStored) ++state.brokenReferences;
    trail.lastStored = trail.lastCompressed;
  }
  ++state.samplesInMedia;
  if (state.samples < 32) {
    state.sampleDurations[state.samples] = duration;
    state.sampleFlags[state.samples] = flags;
  }
  ++state.samples;
  state.lastSampleSize = size;
  state.lastSampleCount = count;
  state.lastSampleFlags = flags;
  state.mediaDuration += duration;
  return noErr;
}

OSErr CloseMovieFile(int16_t refNum) {
  note("CloseMovieFile");
  state.closedRefNum = refNum;
  --state.openFiles;
  return state.closeMovieFileResult;
}

OSErr AddMovieResource(Movie, int16_t, int16_t* resId, ConstStr255Param name) {
  note("AddMovieResource");
  if (state.addMovieResourceResult != noErr) return state.addMovieResourceResult;
  state.resourceId = resId ? *resId : 0;
  if (name) std::memcpy(state.resourceName, name, size_t(name[0]) + 1);
  return noErr;
}

OSErr InsertMediaIntoTrack(Track, TimeValue, TimeValue, TimeValue duration, Fixed rate) {
  note("InsertMediaIntoTrack");
  if (state.insertMediaResult != noErr) return state.insertMediaResult;
  state.insertedDuration = duration;
  state.insertedRate = rate;
  return noErr;
}

Track NewMovieTrack(Movie, Fixed width, Fixed height, int16_t) {
  note("NewMovieTrack");
  state.trackWidth = width;
  state.trackHeight = height;
  static Token track;
  return state.newMovieTrackFails ? nullptr : reinterpret_cast<Track>(&track);
}

Media NewTrackMedia(Track, OSType type, TimeScale scale, Handle, OSType) {
  note("NewTrackMedia");
  state.mediaType = type;
  state.timeScale = scale;
  state.samplesInMedia = 0;
  static Token media;
  return state.newTrackMediaFails ? nullptr : reinterpret_cast<Media>(&media);
}

OSErr CreateMovieFile(const FSSpec* spec, OSType creator, ScriptCode script, int32_t flags, int16_t* refNum,
                      Movie* movie) {
  note("CreateMovieFile");
  std::memcpy(state.specName, spec->name, sizeof state.specName);
  state.creator = creator;
  state.script = script;
  state.createFlags = flags;
  if (state.createMovieFileResult != noErr) return state.createMovieFileResult;
  *refNum = nextRefNum++;
  ++state.openFiles;
  if (state.createMovieFileGivesMovie) {
    *movie = reinterpret_cast<Movie>(new Token{1});
    liveMovies.insert(*movie);
    ++state.liveMovies;
  }
  return noErr;
}

OSErr GetCodecNameList(CodecNameSpecListPtr* list, int16_t) {
  note("GetCodecNameList");
  if (state.codecNameListResult != noErr) return state.codecNameListResult;
  const size_t bytes = sizeof(CodecNameSpecList) + sizeof(CodecNameSpec) * 8;
  auto* l = static_cast<CodecNameSpecListPtr>(std::calloc(1, bytes));
  l->count = state.codecCount;
  for (int i = 0; i < state.codecCount && i < 8; ++i) {
    l->list[i].cType = state.codecs[i].type;
    l->list[i].typeName[0] = state.codecs[i].nameLength;
    std::memcpy(l->list[i].typeName + 1, state.codecs[i].name, 31);
  }
  liveLists.insert(l);
  ++state.liveCodecLists;
  *list = l;
  return noErr;
}

OSErr DisposeCodecNameList(CodecNameSpecListPtr list) {
  note("DisposeCodecNameList");
  if (release(liveLists, list, state.liveCodecLists)) std::free(list);
  return noErr;
}

OSErr GetMaxCompressionSize(PixMapHandle, const Rect* bounds, int16_t, CodecQ quality, CodecType type,
                            CodecComponent, int32_t* size) {
  note("GetMaxCompressionSize");
  state.maxSizeQuality = quality;
  state.maxSizeType = type;
  state.maxSizeBounds = *bounds;
  if (state.maxCompressionSizeResult != noErr) return state.maxCompressionSizeResult;
  *size = state.maxCompressionSize;
  return noErr;
}

OSErr CompressImage(PixMapHandle, const Rect* bounds, CodecQ quality, CodecType type,
                    ImageDescriptionHandle description, Ptr data) {
  note("CompressImage");
  trail.lastCompressed = -1;  // a frame by itself refers to nothing
  state.compressQuality = quality;
  state.compressType = type;
  if (state.compressImageResult != noErr) return state.compressImageResult;
  Handle h = reinterpret_cast<Handle>(description);
  if (!liveHandles.count(h) || !data) return paramErr;
  *h = static_cast<Ptr>(std::realloc(*h, sizeof(ImageDescription)));
  ImageDescription* d = *description;
  std::memset(d, 0, sizeof *d);
  d->idSize = sizeof(ImageDescription);
  d->cType = type;
  d->width = int16_t(bounds->right - bounds->left);
  d->height = int16_t(bounds->bottom - bounds->top);
  d->dataSize = state.compressedSize;
  std::memset(data, 0x5A, size_t(state.compressedSize));
  return noErr;
}

namespace {

// The description a sequence of this type and size gets, as CompressImage
// gives it.
void describe(ImageDescriptionHandle description, CodecType type, const Rect* bounds, int32_t size) {
  Handle h = reinterpret_cast<Handle>(description);
  *h = static_cast<Ptr>(std::realloc(*h, sizeof(ImageDescription)));
  ImageDescription* d = *description;
  std::memset(d, 0, sizeof *d);
  d->idSize = sizeof(ImageDescription);
  d->cType = type;
  d->width = int16_t(bounds->right - bounds->left);
  d->height = int16_t(bounds->bottom - bounds->top);
  d->dataSize = size;
}

// The description the running sequence fills; the program keeps it alive
// until it ends the sequence.
ImageDescriptionHandle sequenceDescription;

}  // namespace

OSErr CompressSequenceBegin(ImageSequence* seq, PixMapHandle source, PixMapHandle previous,
                            const Rect* bounds, const Rect* previousBounds, int16_t, CodecType type,
                            CompressorComponent, CodecQ spatialQuality, CodecQ temporalQuality,
                            int32_t keyFrameRate, CTabHandle, CodecFlags,
                            ImageDescriptionHandle description) {
  note("CompressSequenceBegin");
  if (!seq || !source || !bounds || !liveHandles.count(reinterpret_cast<Handle>(description)))
    return paramErr;
  *seq = 0;
  state.sequenceType = type;
  state.spatialQuality = spatialQuality;
  state.temporalQuality = temporalQuality;
  state.keyFrameRate = keyFrameRate;
  state.sequenceBounds = *bounds;
  state.sequenceGotPrevious = previous || previousBounds;
  if (state.sequenceBeginResult != noErr) return state.sequenceBeginResult;
  if (state.sequenceBeginGivesNone) return noErr;
  describe(description, type, bounds, 0);
  sequenceDescription = description;
  *seq = nextSequence++;
  liveSequences.insert(*seq);
  ++state.liveSequences;
  ++state.sequencesBegun;
  trail.sinceKey = 0;
  trail.lastCompressed = trail.refersTo = -1;
  return noErr;
}

OSErr CompressSequenceFrame(ImageSequence seq, PixMapHandle source, const Rect*, CodecFlags flags, Ptr data,
                            int32_t* dataSize, uint8_t* similarity, ICMCompletionProcRecordPtr) {
  note("CompressSequenceFrame");
  if (!liveSequences.count(seq) || !source || !data || !dataSize || !similarity ||
      !liveHandles.count(reinterpret_cast<Handle>(sequenceDescription)))
    return paramErr;
  const int32_t index = state.sequenceFrames++;
  if (index < 32) state.frameFlags[index] = flags;
  if (state.sequenceFrameResult != noErr) return state.sequenceFrameResult;
  const bool key = trail.lastCompressed < 0 || (flags & codecFlagForceKeyFrame) ||
                   state.nonKeySimilarity == 0 ||
                   (state.keyFrameRate > 0 && trail.sinceKey >= state.keyFrameRate);
  if (index < 32) state.frameKey[index] = key;
  trail.refersTo = key ? -1 : trail.lastCompressed;
  trail.lastCompressed = index;
  trail.sinceKey = key ? 1 : trail.sinceKey + 1;
  const int32_t size = key ? state.compressedSize : state.deltaFrameSize;
  std::memset(data, key ? 0x4B : 0x44, size_t(size));
  *dataSize = size;
  (*sequenceDescription)->dataSize = size;
  *similarity = key ? 0 : state.nonKeySimilarity;
  return noErr;
}

OSErr CDSequenceEnd(ImageSequence seq) {
  note("CDSequenceEnd");
  if (!liveSequences.erase(seq)) {
    ++state.doubleReleases;
    return paramErr;
  }
  --state.liveSequences;
  ++state.sequencesEnded;
  return noErr;
}

OSErr QTNewGWorld(GWorldPtr* out, OSType format, const Rect* bounds, CTabHandle, void*, uint32_t) {
  note("QTNewGWorld");
  state.worldPixelFormat = format;
  state.worldBounds = *bounds;
  if (state.newGWorldResult != noErr) {
    // A failing library may leave anything in the slot.
    *out = reinterpret_cast<GWorldPtr>(uintptr_t(0xBADF00D));
    return state.newGWorldResult;
  }
  auto* w = new World{};
  const int width = bounds->right - bounds->left;
  const int height = bounds->bottom - bounds->top;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  w->bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  w->dc = CreateCompatibleDC(nullptr);
  w->oldBitmap = SelectObject(w->dc, w->bitmap);
  w->pixMap.baseAddr = static_cast<Ptr>(bits);
  w->pixMap.rowBytes = int16_t(kPixMapFlag | (width * 4));
  w->pixMap.bounds = *bounds;
  w->pixMap.pixelSize = 32;
  w->pixMap.pixelFormat = k32BGRAPixelFormat;
  w->pixMap.rowStride = width * 4;
  w->pixMapPointer = &w->pixMap;
  w->port.portPixMap = &w->pixMapPointer;
  w->port.portRect = *bounds;
  w->port.platformData = w;
  liveWorlds.insert(&w->port);
  ++state.liveWorlds;
  *out = &w->port;
  return noErr;
}

void* GetPortHDC(CGrafPtr port) {
  note("GetPortHDC");
  if (state.portHDCFails || !liveWorlds.count(port)) return nullptr;
  return static_cast<World*>(port->platformData)->dc;
}

uint8_t LockPixels(PixMapHandle) {
  note("LockPixels");
  ++state.lockedPixels;
  return 1;
}
void UnlockPixels(PixMapHandle) {
  note("UnlockPixels");
  --state.lockedPixels;
}

// The program deletes the world's DC before it disposes of the world.
void DisposeGWorld(GWorldPtr port) {
  note("DisposeGWorld");
  if (!release(liveWorlds, port, state.liveWorlds)) return;
  auto* w = static_cast<World*>(port->platformData);
  if (GetObjectType(w->dc) != 0) {
    ++state.worldsDisposedWithLiveDC;
    SelectObject(w->dc, w->oldBitmap);
    DeleteDC(w->dc);
  }
  DeleteObject(w->bitmap);
  delete w;
}

OSErr FSMakeFSSpec(int16_t volume, int32_t directory, ConstStr255Param name, FSSpec* spec) {
  note("FSMakeFSSpec");
  spec->vRefNum = volume;
  spec->parID = directory;
  std::memcpy(spec->name, name, size_t(name[0]) + 1);
  return fnfErr;  // as for a file that does not exist yet
}

Fixed FixRatio(int16_t numerator, int16_t denominator) {
  return denominator ? Fixed((int64_t(numerator) << 16) / denominator) : 0;
}

void MacSetRect(Rect* r, int16_t left, int16_t top, int16_t right, int16_t bottom) {
  r->left = left;
  r->top = top;
  r->right = right;
  r->bottom = bottom;
}

StringPtr c2pstr(char* text) {
  note("c2pstr");
  size_t length = std::strlen(text);
  if (length > 255) length = 255;
  std::memmove(text + 1, text, length);
  text[0] = char(length);
  return reinterpret_cast<StringPtr>(text);
}

Handle NewHandle(int32_t size) {
  note("NewHandle");
  if (size == state.failNewHandleOfSize || size < 0) return nullptr;
  return makeHandle(size);
}
void HLock(Handle) { note("HLock"); }
void HUnlock(Handle) { note("HUnlock"); }
void MoveHHi(Handle) { note("MoveHHi"); }
void DisposeHandle(Handle h) {
  note("DisposeHandle");
  if (!release(liveHandles, h, state.liveHandles)) return;
  std::free(*h);
  std::free(h);
}

}  // namespace qtlib
