// Movie, track and media operations, one per QuickTime call the DLL forwards.
//
// A movie is created in a Sink the DLL has opened (the real file); every
// sample's bytes go to that sink as the sample is added, movie fragments keep
// the file playable meanwhile (MovieKeeper.h), and AddMovieResource appends
// the movie atom and closes the media data. Every operation checks its
// arguments first, returns a specific code, and records it for
// GetMoviesError(); a failed operation changes nothing that a later
// AddMovieResource would write.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "QuickTimeTypes.h"
#include "Sink.h"

namespace qt {

// Seconds since 1904-01-01, the epoch of the movie file's time stamps.
uint32_t currentMacTime();

struct MovieOptions {
  // Creation and modification time written into every header; tests fix it
  // so files compare byte for byte.
  uint32_t creationTime = currentMacTime();
  // Keep the file playable while samples arrive (see MovieKeeper.h); the
  // benchmark and tests turn it off, to measure what it costs and to compare
  // the finished files.
  bool fragments = true;
  // The movie's own thread closes fragments on time. Without it the calls
  // that add samples do that work, and KeepMovieReadable stands for the
  // passing time: tests use that, with a clock of their own.
  bool keeperThread = true;
  // Milliseconds on a steady clock; empty: the system's.
  std::function<uint64_t()> clock;
};

// Starts a movie whose media data goes into `sink` (an empty, newly opened
// file): writes the file header at once. On failure no movie exists.
OSErr CreateMovieInSink(std::shared_ptr<Sink> sink, const MovieOptions& options, Movie* movie);

// A track of the given 16.16 size. invalidMovie for a bad movie, paramErr for
// a negative size or a null result pointer.
OSErr NewMovieTrack(Movie movie, Fixed width, Fixed height, int16_t volume, Track* track);

// The track's media: 'vide' only (noMediaHandler otherwise), time scale > 0,
// samples kept in the movie's own file (a data reference gives invalidDataRef).
OSErr NewTrackMedia(Track track, OSType mediaType, TimeScale timeScale, Handle dataRef, OSType dataRefType,
                    Media* media);

OSErr BeginMediaEdits(Media media);
OSErr EndMediaEdits(Media media);

// Writes `size` bytes of `data` from `offset` to the file and records one
// sample of `duration`. One sample per call; flags 0 for a sync sample (a key
// frame) or mediaSampleNotSync for one that needs the samples before it,
// anything else paramErr. The first sample of a media must be a sync sample
// (paramErr otherwise, nothing added).
// A failure of the keeper thread since the last call is reported here, once,
// and the sample is then not added; so is any failure of the work that must
// go before the sample.
// The first description becomes the media's; a later one of another codec,
// size or depth is refused with invalidSampleDescription.
OSErr AddMediaSample(Media media, Handle data, int32_t offset, uint32_t size, TimeValue duration,
                     ImageDescriptionHandle description, int32_t numberOfSamples, int16_t sampleFlags,
                     TimeValue* sampleTime);

// Sum of the sample durations, in the media's time scale; 0 for a bad media
// (GetMoviesError() then says invalidMedia).
TimeValue GetMediaDuration(Media media);

// Places the first `mediaDuration` of the media in the track once, at track
// time 0, rate 1.0; the program passes the whole media. A zero duration (a
// media without samples) is accepted and inserts nothing. Another start, media
// time or rate is refused with paramErr, a duration past the media's with
// invalidDuration, a second edit with badEditList.
OSErr InsertMediaIntoTrack(Track track, TimeValue trackStart, TimeValue mediaTime, TimeValue mediaDuration,
                           Fixed mediaRate);

// Appends the movie atom to `file`, which must be the sink the movie was
// created in, and closes the media data. Only movieInDataForkResID is
// possible: the file has no resource fork. After it succeeds the movie is
// complete and takes no more samples, tracks or media (dataNotOpenForWrite).
// After a failure (a full disk) it can be called again; until it succeeds the
// file plays up to its last fragment. No sample can be added after the
// first call, successful or not.
OSErr AddMovieResource(Movie movie, Sink* file, int16_t resId, ConstStr255Param name);

// Frees the movie with its tracks and media and drops its hold on the sink.
// An unfinished movie's keeper ends first, and the fragment it was taking to
// the disk is completed, so the file shows every fragment written.
OSErr DisposeMovie(Movie movie);

// Before the file behind `sink` closes: stops the keeper of every movie
// written into it and takes the fragment on its way to the disk all the
// way, so no keeper writes into a closing file and the file shows every
// fragment written. The movies take no more fragments (their end still
// writes the movie atom).
void StopMoviesIn(const Sink* sink);

TimeValue GetMovieDuration(Movie movie);
TimeScale GetMovieTimeScale(Movie movie);

// The result of the last operation above (per process, as in QuickTime).
OSErr GetMoviesError();

// Bytes held by the media's sample tables, for the memory benchmark.
size_t MediaTableBytes(Media media);

// For a movie made without the keeper thread: one turn of the keeper, as the
// thread takes it when its clock says so. paramErr for a movie with a keeper.
OSErr KeepMovieReadable(Movie movie);

// What keeping a media's movie readable has cost and what it keeps.
struct CheckpointReport {
  uint32_t written = 0;         // fragments that reached the disk
  uint64_t overheadBytes = 0;   // fragment atoms, the header's movie atom and extra mdat headers
  uint32_t coveredSamples = 0;  // samples of this media a reader finds after a power cut now
};
OSErr GetCheckpointReport(Media media, CheckpointReport* report);

}  // namespace qt
