// The movie, track and media records behind the opaque references.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

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
  // Samples that the movie atom readers now find in the file describes.
  uint32_t checkpointedSamples = 0;
  // Samples of a newer checkpoint that becomes the one readers find once the
  // older movie atom is freed.
  uint32_t pendingCheckpointedSamples = 0;
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

// How often the movie atom is rewritten while samples arrive, so that a
// recording cut short by a crash plays up to its last checkpoint.
struct CheckpointState {
  bool enabled = true;
  // The movie atom readers find now, describing every sample before `segment`.
  MovieAtomPlace live;
  // A movie atom superseded by `live` but still a 'moov' in the file: it is
  // turned into a 'free' atom once `live` is safely on the disk.
  MovieAtomPlace stale;
  // Movie time (ms) that `live` covers.
  uint64_t coveredTime = 0;
  // Bytes the checkpoints added to the file: superseded movie atoms and the
  // headers of the extra mdat atoms.
  uint64_t overhead = 0;
  uint32_t written = 0;  // checkpoints written, for the benchmark
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
