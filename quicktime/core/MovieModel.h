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

struct MovieRecord {
  std::shared_ptr<qt::Sink> sink;
  uint64_t wideOffset = 0;  // the 8-byte 'wide' atom, then the mdat header
  uint64_t end = 0;         // next free byte: where the next sample goes
  TimeScale timeScale = 0;
  uint32_t creationTime = 0;  // seconds since 1904, creation and modification
  bool resourceWritten = false;
  std::vector<std::unique_ptr<TrackRecord>> tracks;
};
