// The movie, track and media records behind the opaque references.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "AtomWriter.h"
#include "QuickTimeTypes.h"
#include "SampleTable.h"
#include "Sink.h"

struct MediaRecord {
  TrackRecord* track = nullptr;
  OSType type = 0;
  TimeScale timeScale = 0;
  bool inEdits = false;
  // The first sample's image description in memory layout (native byte
  // order); becomes the media's one sample description in the file.
  std::vector<uint8_t> description;
  qt::SampleTable samples;
  // Described by the file's fragmented movie atom, so later samples go into
  // movie fragments. A media that had no sample when that atom was written
  // is kept only by the finished movie.
  bool inFragments = false;
  // Samples described by a movie fragment already written, and their
  // duration: the next fragment starts there. One fragment goes to the disk
  // at a time, so these are also what it covers once there.
  uint32_t fragmentedSamples = 0;
  uint64_t fragmentedTime = 0;
  // Samples that the file on the disk holds now, whatever happens next: a
  // crash, a kill or a power cut keeps at least these.
  uint32_t checkpointedSamples = 0;
};

struct TrackRecord {
  MovieRecord* movie = nullptr;
  uint32_t id = 0;
  Fixed width = 0;
  Fixed height = 0;
  int16_t volume = 0;
  std::unique_ptr<MediaRecord> media;
  // The one edit: media time 0 .. editMediaDuration at rate 1.0, placed at
  // track time 0. Zero means the track has no edit yet.
  TimeValue editMediaDuration = 0;
};

// Bytes to write over the file once the flush before them is done, all
// within one sector: the header of the mdat a fragment closes, the size of
// an atom, the type that frees an atom, the movie's duration. One that goes
// `withPrevious` is written after the patch before it, under the same flush.
struct Patch {
  uint64_t offset = 0;
  uint8_t bytes[8] = {};
  uint32_t size = 0;
  bool withPrevious = false;
};

// How the file stays readable while samples arrive: a movie fragment for
// the samples of about each second, written where readers do not see it yet
// and revealed, once it is on the disk, by turning the open region in front
// of it into an mdat of its size (see MovieFile.h). Written by the recording thread and the
// movie's keeper thread alike, always under the movie's lock.
struct FragmentState {
  bool enabled = true;
  // The movie atom written with the file header, so the file opens before
  // its first sample; freed by the first fragment. 0: none.
  uint64_t headerMovie = 0;
  // Where the fragmented movie atom's 'mehd' keeps the duration of the
  // fragments revealed; 0 until that atom is written.
  uint64_t duration = 0;
  // The fragmented movie atom (with 'mvex') is written: later samples go
  // into 'moof' atoms.
  bool movieWritten = false;
  uint32_t sequence = 0;  // of the last 'moof'
  // The fragment on its way to the disk: each patch goes after a flush, and
  // one more flush after the last; a failed step is tried again.
  bool arriving = false;
  Patch patches[4];
  int patchCount = 0;
  int patchesDone = 0;
  // A sample that no fragment describes yet, and when (keeper clock, ms) the
  // first of them was added; the fragment for them is due a second later.
  bool pending = false;
  uint64_t pendingSince = 0;
  // The open mdat must be closed before the next sample fits (its offsets
  // would pass 31 bits); the recording thread waits for it.
  bool urgent = false;
  uint64_t retryAt = 0;  // after a failed turn, when to try again
  // A failure of the keeper thread, handed once to the next call that can
  // report it (taken, never copied).
  OSErr failure = noErr;
  // What keeping the file readable has cost: every fragment's atoms and
  // mdat headers, and the header's own movie atom.
  uint64_t overhead = 0;
  uint32_t written = 0;  // fragments that reached the disk
  // Where each fragment's atom is built: it only grows, so it is kept.
  qt::ByteWriter atom;
};

struct MovieRecord {
  std::shared_ptr<qt::Sink> sink;
  uint64_t wideOffset = 0;  // the 8-byte 'wide' atom before the first mdat header
  uint64_t firstMdat = 0;   // the first mdat header, which the finished movie's spans everything
  // Header of the region the samples go into now: without fragments the
  // first mdat, whose size reads 0 ("to the end of the file") until the
  // movie resource closes it; with them an open 'free' atom, likewise to
  // the end of the file, until a fragment reveals it as its mdat.
  uint64_t segment = 0;
  uint64_t end = 0;  // next free byte: where the next sample goes
  TimeScale timeScale = 0;
  uint32_t creationTime = 0;  // seconds since 1904, creation and modification
  bool finishing = false;     // AddMovieResource has begun: no more samples
  bool resourceWritten = false;
  FragmentState fragments;
  std::vector<std::unique_ptr<TrackRecord>> tracks;

  // Everything above is read and written under `lock`, by the program's
  // calls and by the keeper thread, which closes fragments on time even when
  // no sample comes; the keeper lets go of it while the sink flushes.
  std::mutex lock;
  std::condition_variable changed;  // a sample is pending, a fragment is done, or the keeper must stop
  std::function<uint64_t()> clock;  // milliseconds, steady
  std::thread keeper;
  bool stopping = false;
};
