// Movie, track and media operations, one per QuickTime call the DLL forwards.
//
// A movie is created in a Sink the DLL has opened (the real file); every
// sample's bytes go to that sink as the sample is added, checkpoints keep the
// file playable meanwhile, and AddMovieResource appends the movie atom and
// closes the media data. Every operation checks its arguments first, returns
// a specific code, and records it for GetMoviesError(); a failed operation
// changes nothing that a later AddMovieResource would write.
#pragma once

#include <cstdint>
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
  // Keep the file playable while samples arrive (see MovieFile.h); only the
  // benchmark turns it off, to measure what it costs.
  bool checkpoints = true;
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
// sample of `duration`. One sample per call, sync samples only (flags 0).
// A checkpoint that is due is written first; if it fails, the call fails with
// its code and the sample is not added.
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
// file plays up to its last checkpoint.
OSErr AddMovieResource(Movie movie, Sink* file, int16_t resId, ConstStr255Param name);

// Frees the movie with its tracks and media and drops its hold on the sink.
OSErr DisposeMovie(Movie movie);

TimeValue GetMovieDuration(Movie movie);
TimeScale GetMovieTimeScale(Movie movie);

// The result of the last operation above (per process, as in QuickTime).
OSErr GetMoviesError();

// Bytes held by the media's sample tables, for the memory benchmark.
size_t MediaTableBytes(Media media);

// What the checkpoints of a media's movie have cost and what they keep.
struct CheckpointReport {
  uint32_t written = 0;         // checkpoints written
  uint64_t overheadBytes = 0;   // superseded movie atoms and extra mdat headers
  uint32_t coveredSamples = 0;  // samples of this media a reader finds after a crash now
};
OSErr GetCheckpointReport(Media media, CheckpointReport* report);

}  // namespace qt
