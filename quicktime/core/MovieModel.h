// The movie, track and media records behind the opaque references.
#pragma once

#include <cstdint>
#include <memory>
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
  // Samples that the movie atom a reader finds after a crash now describes.
  uint32_t checkpointedSamples = 0;
  // Samples of the last checkpoint, which becomes that atom once settled.
  uint32_t liveSamples = 0;
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

// A movie atom somewhere in the file.
struct MovieAtomPlace {
  uint64_t offset = 0;
  uint64_t size = 0;  // 0: there is none
};

// Where the last checkpoint stands on its way to the disk. Each step waits
// for the one before: the new atom must be on the disk before the old one
// stops being a movie atom, so a power cut at any moment leaves one.
enum class Settling : uint8_t {
  settled,    // `live` is the movie atom readers find, on the disk
  flushLive,  // `live` (and every sample before it) must reach the disk
  freeStale,  // then `stale` must become a 'free' atom
  flushFree,  // and that change reach the disk
};

// How often the movie atom is rewritten while samples arrive, so that a
// recording cut short by a crash plays up to its last checkpoint.
struct CheckpointState {
  bool enabled = true;
  // The movie atom of the last checkpoint, describing every sample before
  // `segment`.
  MovieAtomPlace live;
  // The one before it, still a 'moov' in the file until settled.
  MovieAtomPlace stale;
  Settling settling = Settling::settled;
  bool flushRunning = false;  // the sink flushes in the background for it
  // Movie time (ms) and samples that `live` covers.
  uint64_t coveredTime = 0;
  // Bytes the checkpoints add to the file: every checkpoint's movie atom,
  // which ends up free, and the header of the mdat after it.
  uint64_t overhead = 0;
  // The file size from which the next checkpoint may fit its budget.
  uint64_t affordableAt = 0;
  uint32_t written = 0;  // checkpoints written, for the benchmark
  // Where each checkpoint's atom is built: it only grows, so it is kept.
  qt::ByteWriter atom;
};

struct MovieRecord {
  std::shared_ptr<qt::Sink> sink;
  uint64_t wideOffset = 0;  // the 8-byte 'wide' atom before the first mdat header
  // Header of the mdat the samples go into now: its size reads 0 ("to the end
  // of the file") until a checkpoint or the movie resource closes it.
  uint64_t segment = 0;
  uint64_t end = 0;  // next free byte: where the next sample goes
  TimeScale timeScale = 0;
  uint32_t creationTime = 0;  // seconds since 1904, creation and modification
  bool resourceWritten = false;
  CheckpointState checkpoint;
  std::vector<std::unique_ptr<TrackRecord>> tracks;
};
