#include "Movies.h"

#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>
#include <mutex>
#include <unordered_set>

#include "Handles.h"
#include "MovieFile.h"
#include "MovieKeeper.h"
#include "MovieModel.h"

namespace qt {
namespace {

constexpr int16_t kSyncSampleFlags = 0;  // a key frame: decodes on its own
constexpr uint32_t kSecondsFrom1904To1970 = 2082844800u;

// Every live record, so that a disposed or foreign reference is refused
// instead of dereferenced.
struct Registry {
  std::mutex lock;
  std::unordered_set<const void*> live;
  std::unordered_set<MovieRecord*> movies;  // of those, the movies
};

Registry& registry() {
  static Registry* r = new Registry;  // outlives any static that holds a movie
  return *r;
}

bool isLive(const void* p) {
  if (!p) return false;
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  return r.live.count(p) != 0;
}

void enroll(const void* p) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  r.live.insert(p);
}

void withdraw(const void* p) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  r.live.erase(p);
}

OSErr lastError = noErr;

OSErr done(OSErr err) {
  lastError = err;
  return err;
}

// The image description behind a handle, checked: a live handle at least as
// large as the record, whose own size field stays inside the handle.
OSErr checkDescription(ImageDescriptionHandle h, const ImageDescription** out) {
  Handle raw = reinterpret_cast<Handle>(h);
  if (OSErr err = CheckHandle(raw)) return err;
  int32_t handleSize = GetHandleSize(raw);
  if (handleSize < int32_t(sizeof(ImageDescription))) return badImageDescription;
  const ImageDescription* d = reinterpret_cast<const ImageDescription*>(*raw);
  if (d->idSize < int32_t(sizeof(ImageDescription)) || d->idSize > handleSize) return badImageDescription;
  if (d->cType == 0 || d->width <= 0 || d->height <= 0) return badImageDescription;
  *out = d;
  return noErr;
}

// A later sample must decode with the media's one description.
bool sameFormat(const std::vector<uint8_t>& stored, const ImageDescription& d) {
  ImageDescription first;
  std::memcpy(&first, stored.data(), sizeof first);
  return first.cType == d.cType && first.width == d.width && first.height == d.height &&
         first.depth == d.depth;
}

OSErr addSample(Media media, Handle data, int32_t offset, uint32_t size, TimeValue duration,
                ImageDescriptionHandle description, int32_t numberOfSamples, int16_t sampleFlags,
                TimeValue* sampleTime) {
  if (!isLive(media)) return invalidMedia;
  MovieRecord& movie = *media->track->movie;
  std::unique_lock<std::mutex> g(movie.lock);
  if (movie.finishing) return dataNotOpenForWrite;
  if (!media->inEdits) return invalidEditState;
  if (OSErr err = CheckHandle(data)) return err;
  if (offset < 0 || size == 0 || size > uint32_t(INT32_MAX)) return paramErr;
  if (int64_t(offset) + int64_t(size) > int64_t(GetHandleSize(data))) return paramErr;
  if (duration <= 0) return invalidDuration;
  if (numberOfSamples != 1) return paramErr;
  if (sampleFlags != kSyncSampleFlags && sampleFlags != mediaSampleNotSync) return paramErr;
  const bool sync = sampleFlags == kSyncSampleFlags;
  // Playback starts at a key frame: a media cannot begin with a sample
  // that needs one before it.
  if (!sync && media->samples.count() == 0) return paramErr;
  const ImageDescription* d = nullptr;
  if (OSErr err = checkDescription(description, &d)) return err;
  if (!media->description.empty() && !sameFormat(media->description, *d)) return invalidSampleDescription;
  SampleTable& table = media->samples;
  // Media durations are written as 32-bit signed values.
  if (table.totalDuration() + uint64_t(duration) > uint64_t(INT32_MAX)) return invalidDuration;
  if (table.count() == UINT32_MAX) return paramErr;

  // What keeping the file readable asks first goes first, so the sample is
  // either in the file with everything before it kept as promised, or not
  // added at all.
  if (OSErr err = prepareSample(movie, g, size)) return err;
  const uint64_t at = movie.end;
  if (OSErr err = movie.sink->write(at, *data + offset, size)) return err;
  if (media->description.empty()) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(d);
    media->description.assign(bytes, bytes + d->idSize);
  }
  if (sampleTime) *sampleTime = TimeValue(table.totalDuration());
  table.add(at, size, uint32_t(duration), sync);
  movie.end = at + size;
  sampleAdded(movie, *media);
  return noErr;
}

}  // namespace

uint32_t currentMacTime() { return uint32_t(std::time(nullptr)) + kSecondsFrom1904To1970; }

OSErr CreateMovieInSink(std::shared_ptr<Sink> sink, const MovieOptions& options, Movie* movie) {
  if (!movie) return done(paramErr);
  *movie = nullptr;
  if (!sink) return done(paramErr);
  std::unique_ptr<MovieRecord> m(new (std::nothrow) MovieRecord);
  if (!m) return done(memFullErr);
  m->sink = std::move(sink);
  m->timeScale = kMovieTimeScale;
  m->creationTime = options.creationTime;
  m->fragments.enabled = options.fragments;
  if (options.clock) {
    m->clock = options.clock;
  } else {
    m->clock = [] {
      using namespace std::chrono;
      return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    };
  }
  if (OSErr err = startMovieFile(*m, options.keeperThread)) return done(err);
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    r.live.insert(m.get());
    try {
      r.movies.insert(m.get());
    } catch (...) {
      r.live.erase(m.get());
      throw;
    }
  }
  *movie = m.release();
  return done(noErr);
}

OSErr NewMovieTrack(Movie movie, Fixed width, Fixed height, int16_t volume, Track* track) {
  if (!track) return done(paramErr);
  *track = nullptr;
  if (!isLive(movie)) return done(invalidMovie);
  std::lock_guard<std::mutex> g(movie->lock);
  if (movie->finishing) return done(dataNotOpenForWrite);
  if (width < 0 || height < 0) return done(paramErr);
  std::unique_ptr<TrackRecord> t(new (std::nothrow) TrackRecord);
  if (!t) return done(memFullErr);
  t->movie = movie;
  t->id = uint32_t(movie->tracks.size() + 1);
  t->width = width;
  t->height = height;
  t->volume = volume;
  // Room first: memory that runs out leaves the movie without the track.
  movie->tracks.reserve(movie->tracks.size() + 1);
  enroll(t.get());
  *track = t.get();
  movie->tracks.push_back(std::move(t));
  return done(noErr);
}

OSErr NewTrackMedia(Track track, OSType mediaType, TimeScale timeScale, Handle dataRef, OSType dataRefType,
                    Media* media) {
  if (!media) return done(paramErr);
  *media = nullptr;
  if (!isLive(track)) return done(invalidTrack);
  std::lock_guard<std::mutex> g(track->movie->lock);
  if (track->movie->finishing) return done(dataNotOpenForWrite);
  if (mediaType != VideoMediaType) return done(noMediaHandler);
  if (timeScale <= 0) return done(paramErr);
  if (dataRef || dataRefType) return done(invalidDataRef);
  if (track->media) return done(paramErr);  // one media per track
  std::unique_ptr<MediaRecord> m(new (std::nothrow) MediaRecord);
  if (!m) return done(memFullErr);
  m->track = track;
  m->type = mediaType;
  m->timeScale = timeScale;
  enroll(m.get());
  track->media = std::move(m);
  *media = track->media.get();
  return done(noErr);
}

OSErr BeginMediaEdits(Media media) {
  if (!isLive(media)) return done(invalidMedia);
  std::lock_guard<std::mutex> g(media->track->movie->lock);
  if (media->track->movie->finishing) return done(dataNotOpenForWrite);
  media->inEdits = true;
  return done(noErr);
}

OSErr EndMediaEdits(Media media) {
  if (!isLive(media)) return done(invalidMedia);
  std::lock_guard<std::mutex> g(media->track->movie->lock);
  if (!media->inEdits) return done(invalidEditState);
  media->inEdits = false;
  return done(noErr);
}

OSErr AddMediaSample(Media media, Handle data, int32_t offset, uint32_t size, TimeValue duration,
                     ImageDescriptionHandle description, int32_t numberOfSamples, int16_t sampleFlags,
                     TimeValue* sampleTime) {
  return done(
      addSample(media, data, offset, size, duration, description, numberOfSamples, sampleFlags, sampleTime));
}

TimeValue GetMediaDuration(Media media) {
  if (!isLive(media)) {
    done(invalidMedia);
    return 0;
  }
  std::lock_guard<std::mutex> g(media->track->movie->lock);
  done(noErr);
  return TimeValue(media->samples.totalDuration());
}

OSErr InsertMediaIntoTrack(Track track, TimeValue trackStart, TimeValue mediaTime, TimeValue mediaDuration,
                           Fixed mediaRate) {
  constexpr Fixed kRateOne = 0x10000;
  if (!isLive(track)) return done(invalidTrack);
  std::lock_guard<std::mutex> g(track->movie->lock);
  if (!track->media) return done(invalidMedia);
  if (track->movie->finishing) return done(dataNotOpenForWrite);
  if (trackStart != 0 || mediaTime != 0 || mediaRate != kRateOne) return done(paramErr);
  if (mediaDuration < 0 || uint64_t(mediaDuration) > track->media->samples.totalDuration())
    return done(invalidDuration);
  if (mediaDuration == 0) return done(noErr);
  if (track->editMediaDuration > 0) return done(badEditList);
  track->editMediaDuration = mediaDuration;
  return done(noErr);
}

OSErr AddMovieResource(Movie movie, Sink* file, int16_t resId, ConstStr255Param name) {
  (void)name;  // the data fork holds no resource names
  if (!isLive(movie)) return done(invalidMovie);
  if (!file || file != movie->sink.get()) return done(paramErr);
  if (resId != movieInDataForkResID) return done(paramErr);
  if (movie->resourceWritten) return done(dataNotOpenForWrite);
  // No fragment may land where the movie atom goes, so the keeper is done
  // for good, whatever becomes of this call.
  stopKeeper(*movie);
  std::unique_lock<std::mutex> g(movie->lock);
  if (OSErr err = writeMovieResource(*movie, g)) {
    // The keeper may have stopped with a fragment half revealed: the file
    // left as it is plays up to that fragment, as far as the disk lets us.
    completeFragment(*movie, g);
    return done(err);
  }
  movie->resourceWritten = true;
  return done(noErr);
}

OSErr DisposeMovie(Movie movie) {
  if (!isLive(movie)) return done(invalidMovie);
  stopKeeper(*movie);
  {
    // A movie let go of unfinished leaves its file showing every fragment
    // written, whether its file is closed before or after (a closed file
    // refuses the writes, and the keeper then had completed it already).
    std::unique_lock<std::mutex> g(movie->lock);
    completeFragment(*movie, g);
  }
  for (const auto& t : movie->tracks) {
    if (t->media) withdraw(t->media.get());
    withdraw(t.get());
  }
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    r.live.erase(movie);
    r.movies.erase(movie);
  }
  delete movie;
  return done(noErr);
}

void StopMoviesIn(const Sink* sink) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  for (MovieRecord* m : r.movies) {
    if (m->sink.get() != sink) continue;
    stopKeeper(*m);
    std::unique_lock<std::mutex> lock(m->lock);
    completeFragment(*m, lock);  // a failure leaves what a crash would
  }
}

TimeValue GetMovieDuration(Movie movie) {
  if (!isLive(movie)) {
    done(invalidMovie);
    return 0;
  }
  std::lock_guard<std::mutex> g(movie->lock);
  done(noErr);
  TimeValue longest = 0;
  for (const auto& t : movie->tracks) {
    if (!t->media || t->editMediaDuration <= 0) continue;
    TimeValue d = TimeValue(toMovieTime(uint64_t(t->editMediaDuration), t->media->timeScale));
    if (d > longest) longest = d;
  }
  return longest;
}

TimeScale GetMovieTimeScale(Movie movie) {
  if (!isLive(movie)) {
    done(invalidMovie);
    return 0;
  }
  done(noErr);
  return movie->timeScale;
}

OSErr GetMoviesError() { return lastError; }

size_t MediaTableBytes(Media media) {
  if (!isLive(media)) return 0;
  std::lock_guard<std::mutex> g(media->track->movie->lock);
  return media->samples.memoryBytes();
}

OSErr KeepMovieReadable(Movie movie) {
  if (!isLive(movie)) return done(invalidMovie);
  if (movie->keeper.joinable()) return done(paramErr);  // its own thread does it
  std::unique_lock<std::mutex> g(movie->lock);
  return done(keepReadable(*movie, g, false));
}

OSErr GetCheckpointReport(Media media, CheckpointReport* report) {
  if (!report) return done(paramErr);
  *report = CheckpointReport();
  if (!isLive(media)) return done(invalidMedia);
  std::lock_guard<std::mutex> g(media->track->movie->lock);
  const FragmentState& f = media->track->movie->fragments;
  report->written = f.written;
  report->overheadBytes = f.overhead;
  report->coveredSamples = media->checkpointedSamples;
  return done(noErr);
}

}  // namespace qt
