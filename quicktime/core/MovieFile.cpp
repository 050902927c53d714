#include "MovieFile.h"

#include <algorithm>
#include <cstring>

namespace qt {
namespace {

constexpr uint32_t kWideSize = 8;
constexpr uint32_t kFixedOne = 0x00010000;
constexpr uint16_t kVolumeOne = 0x0100;  // 8.8 fixed point
constexpr OSType kVendor = fourCC("SKLB");

// Track header flags: enabled, in movie, in preview, in poster.
constexpr uint32_t kTrackFlags = 0xF;

// The description written for a media that never received a sample, so that
// its sample table still holds the one entry readers require.
ImageDescription placeholderDescription(const TrackRecord& track) {
  ImageDescription d{};
  d.idSize = sizeof(ImageDescription);
  d.cType = kAnimationCodecType;
  d.vendor = kVendor;
  d.width = int16_t(track.width >> 16);
  d.height = int16_t(track.height >> 16);
  d.hRes = 72 << 16;
  d.vRes = 72 << 16;
  d.frameCount = 1;
  static const char kName[] = "Animation";
  d.name[0] = uint8_t(sizeof(kName) - 1);
  std::memcpy(d.name + 1, kName, sizeof(kName) - 1);
  d.depth = 24;
  d.clutID = -1;
  return d;
}

void matrix(ByteWriter& w) {
  // Identity: a, b, u / c, d, v / x, y, w; u, v, w are 2.30, the rest 16.16.
  // clang-format off
  w.be32(kFixedOne); w.be32(0);         w.be32(0);
  w.be32(0);         w.be32(kFixedOne); w.be32(0);
  w.be32(0);         w.be32(0);         w.be32(0x40000000);
  // clang-format on
}

// The media time a track's edit covers. A checkpoint describes the movie as
// the program would finish it now: a track without an edit yet shows its
// whole media, as InsertMediaIntoTrack will place it.
uint64_t editedMediaTime(const TrackRecord& t, bool checkpoint) {
  if (!t.media) return 0;
  if (t.editMediaDuration > 0) return uint64_t(t.editMediaDuration);
  return checkpoint ? t.media->samples.totalDuration() : 0;
}

uint32_t trackDuration(const TrackRecord& t, bool checkpoint) {
  const uint64_t edited = editedMediaTime(t, checkpoint);
  return edited ? toMovieTime(edited, t.media->timeScale) : 0;
}

uint32_t movieDuration(const MovieRecord& m, bool checkpoint) {
  uint32_t longest = 0;
  for (const auto& t : m.tracks) {
    uint32_t d = trackDuration(*t, checkpoint);
    if (d > longest) longest = d;
  }
  return longest;
}

// mvhd: movie header
void mvhd(ByteWriter& w, const MovieRecord& m, bool checkpoint) {
  FullAtom a(w, fourCC("mvhd"), 0, 0);
  w.be32(m.creationTime);                // creation time
  w.be32(m.creationTime);                // modification time
  w.be32(uint32_t(m.timeScale));         // time scale
  w.be32(movieDuration(m, checkpoint));  // duration
  w.be32(kFixedOne);                     // preferred rate 1.0
  w.be16(kVolumeOne);                    // preferred volume 1.0
  w.zeros(10);                           // reserved
  matrix(w);
  w.be32(0);                              // preview time
  w.be32(0);                              // preview duration
  w.be32(0);                              // poster time
  w.be32(0);                              // selection time
  w.be32(0);                              // selection duration
  w.be32(0);                              // current time
  w.be32(uint32_t(m.tracks.size() + 1));  // next track id
}

// tkhd: track header
void tkhd(ByteWriter& w, const MovieRecord& m, const TrackRecord& t, bool checkpoint) {
  FullAtom a(w, fourCC("tkhd"), 0, kTrackFlags);
  w.be32(m.creationTime);                // creation time
  w.be32(m.creationTime);                // modification time
  w.be32(t.id);                          // track id
  w.be32(0);                             // reserved
  w.be32(trackDuration(t, checkpoint));  // duration, movie time scale
  w.zeros(8);                            // reserved
  w.be16(0);                             // layer
  w.be16(0);                             // alternate group
  w.be16(uint16_t(t.volume));            // volume, 8.8
  w.be16(0);                             // reserved
  matrix(w);
  w.be32(uint32_t(t.width));   // track width, 16.16
  w.be32(uint32_t(t.height));  // track height, 16.16
}

// elst: edit list, the whole media once at rate 1.0
void elst(ByteWriter& w, const TrackRecord& t, bool checkpoint) {
  FullAtom a(w, fourCC("elst"), 0, 0);
  w.be32(1);                             // number of entries
  w.be32(trackDuration(t, checkpoint));  // track duration, movie time scale
  w.be32(0);                             // media time
  w.be32(kFixedOne);                     // media rate 1.0
}

// edts: edit atom
void edts(ByteWriter& w, const TrackRecord& t, bool checkpoint) {
  Atom a(w, fourCC("edts"));
  elst(w, t, checkpoint);
}

// mdhd: media header
void mdhd(ByteWriter& w, const MovieRecord& m, const MediaRecord& md) {
  FullAtom a(w, fourCC("mdhd"), 0, 0);
  w.be32(m.creationTime);                        // creation time
  w.be32(m.creationTime);                        // modification time
  w.be32(uint32_t(md.timeScale));                // time scale
  w.be32(uint32_t(md.samples.totalDuration()));  // duration, sum of sample durations
  w.be16(0);                                     // language: Macintosh English
  w.be16(0);                                     // quality
}

// hdlr: handler reference, for the media ('mhlr') or its data ('dhlr')
void hdlr(ByteWriter& w, OSType componentType, OSType subtype, const char* name) {
  FullAtom a(w, fourCC("hdlr"), 0, 0);
  w.code(componentType);  // component type
  w.code(subtype);        // component subtype
  w.be32(0);              // component manufacturer
  w.be32(0);              // component flags
  w.be32(0);              // component flags mask
  size_t n = std::strlen(name);
  w.be8(uint8_t(n));  // component name, a Pascal string
  w.raw(name, n);
}

// vmhd: video media information header
void vmhd(ByteWriter& w) {
  FullAtom a(w, fourCC("vmhd"), 0, 1);
  w.be16(0x0040);  // graphics mode: dither copy
  w.be16(0x8000);  // opcolor red
  w.be16(0x8000);  // opcolor green
  w.be16(0x8000);  // opcolor blue
}

// dref: data references; one alias that points at this very file
void dref(ByteWriter& w) {
  FullAtom a(w, fourCC("dref"), 0, 0);
  w.be32(1);                               // number of entries
  FullAtom alis(w, fourCC("alis"), 0, 1);  // flag 1: self reference
}

// dinf: data information
void dinf(ByteWriter& w) {
  Atom a(w, fourCC("dinf"));
  dref(w);
}

// One video sample description, the image description in file byte order.
void videoSampleDescription(ByteWriter& w, const ImageDescription& d, const uint8_t* extra,
                            size_t extraSize) {
  w.be32(uint32_t(sizeof(ImageDescription) + extraSize));  // size
  w.code(d.cType);                                         // data format, the codec
  w.zeros(6);                                              // reserved
  w.be16(1);                                               // data reference index: the self reference
  w.be16(uint16_t(d.version));                             // version
  w.be16(uint16_t(d.revisionLevel));                       // revision level
  w.code(d.vendor);                                        // vendor
  w.be32(d.temporalQuality);                               // temporal quality
  w.be32(d.spatialQuality);                                // spatial quality
  w.be16(uint16_t(d.width));                               // width
  w.be16(uint16_t(d.height));                              // height
  w.be32(uint32_t(d.hRes));                                // horizontal resolution
  w.be32(uint32_t(d.vRes));                                // vertical resolution
  w.be32(0);                                               // data size: per sample, kept in stsz
  w.be16(1);                                               // frame count
  w.str31(d.name);                                         // compressor name
  w.be16(uint16_t(d.depth));                               // depth
  w.be16(uint16_t(d.clutID));                              // color table id, -1: none
  if (extraSize) w.raw(extra, extraSize);                  // extension atoms, already big-endian
}

// stsd: sample descriptions, one per media
void stsd(ByteWriter& w, const TrackRecord& t) {
  FullAtom a(w, fourCC("stsd"), 0, 0);
  w.be32(1);  // number of entries
  const MediaRecord& md = *t.media;
  if (md.description.size() >= sizeof(ImageDescription)) {
    ImageDescription d;
    std::memcpy(&d, md.description.data(), sizeof d);
    videoSampleDescription(w, d, md.description.data() + sizeof d, md.description.size() - sizeof d);
  } else {
    videoSampleDescription(w, placeholderDescription(t), nullptr, 0);
  }
}

// stts: time to sample, runs of equal durations
void stts(ByteWriter& w, const SampleTable& s) {
  FullAtom a(w, fourCC("stts"), 0, 0);
  w.be32(uint32_t(s.timeRuns().size()));  // number of entries
  for (const TimeRun& r : s.timeRuns()) {
    w.be32(r.count);     // sample count
    w.be32(r.duration);  // sample duration
  }
}

// stsc: sample to chunk; every chunk holds one sample
void stsc(ByteWriter& w, const SampleTable& s) {
  FullAtom a(w, fourCC("stsc"), 0, 0);
  if (s.count() == 0) {
    w.be32(0);  // number of entries
    return;
  }
  w.be32(1);  // number of entries
  w.be32(1);  // first chunk
  w.be32(1);  // samples per chunk
  w.be32(1);  // sample description id
}

// stsz: sample sizes
void stsz(ByteWriter& w, const SampleTable& s) {
  FullAtom a(w, fourCC("stsz"), 0, 0);
  w.be32(0);          // sample size: 0, each listed
  w.be32(s.count());  // number of entries
  for (uint32_t size : s.sizes()) w.be32(size);
}

// stco: chunk offsets, 32-bit
void stco(ByteWriter& w, const SampleTable& s) {
  FullAtom a(w, fourCC("stco"), 0, 0);
  w.be32(s.count());  // number of entries
  for (uint64_t o : s.offsets()) w.be32(uint32_t(o));
}

// co64: chunk offsets, 64-bit, once the file passes 4 GiB
void co64(ByteWriter& w, const SampleTable& s) {
  FullAtom a(w, fourCC("co64"), 0, 0);
  w.be32(s.count());  // number of entries
  for (uint64_t o : s.offsets()) w.be64(o);
}

// stbl: sample table. Every sample is a sync sample, so there is no stss.
void stbl(ByteWriter& w, const TrackRecord& t) {
  Atom a(w, fourCC("stbl"));
  const SampleTable& s = t.media->samples;
  stsd(w, t);
  stts(w, s);
  stsc(w, s);
  stsz(w, s);
  if (s.needsLargeOffsets())
    co64(w, s);
  else
    stco(w, s);
}

// minf: media information
void minf(ByteWriter& w, const TrackRecord& t) {
  Atom a(w, fourCC("minf"));
  vmhd(w);
  hdlr(w, fourCC("dhlr"), fourCC("alis"), "Alias Data Handler");
  dinf(w);
  stbl(w, t);
}

// mdia: media
void mdia(ByteWriter& w, const MovieRecord& m, const TrackRecord& t) {
  Atom a(w, fourCC("mdia"));
  mdhd(w, m, *t.media);
  hdlr(w, fourCC("mhlr"), t.media->type, "Video Media Handler");
  minf(w, t);
}

// trak: track
void trak(ByteWriter& w, const MovieRecord& m, const TrackRecord& t, bool checkpoint) {
  Atom a(w, fourCC("trak"));
  tkhd(w, m, t, checkpoint);
  if (editedMediaTime(t, checkpoint) > 0) edts(w, t, checkpoint);
  mdia(w, m, t);
}

}  // namespace

uint32_t toMovieTime(uint64_t mediaTime, TimeScale mediaScale) {
  if (mediaScale <= 0) return 0;
  if (mediaScale == kMovieTimeScale) return uint32_t(mediaTime);
  return uint32_t((mediaTime * kMovieTimeScale + uint64_t(mediaScale) / 2) / uint64_t(mediaScale));
}

namespace {

constexpr uint32_t kMdatHeaderSize = 8;
// The most an mdat with a 32-bit size can hold, header included.
constexpr uint64_t kLargestMdat = UINT32_MAX;
// Checkpoints come at most once a second of movie time...
constexpr uint64_t kCheckpointInterval = 1000;
// ...and, once these first bytes of overhead are spent, only while all of
// them together stay under 1/kCheckpointShare of the file.
constexpr uint64_t kCheckpointAllowance = 64 * 1024;
constexpr uint64_t kCheckpointShare = 100;

// mdat: media data, open. Size 0 means "to the end of the file" until it is
// closed, so whatever follows it, torn samples or an unfinished movie atom,
// is media data that nothing points into.
void openMdat(ByteWriter& w) {
  w.be32(0);  // size: to the end of the file
  w.code(fourCC("mdat"));
}

// Closes the open mdat so that it ends at `end`; the 8-byte 'wide' atom in
// front of the first one lets it take a 64-bit size when it is that large.
OSErr closeMdat(const MovieRecord& movie, uint64_t end) {
  ByteWriter header;
  uint64_t at = movie.segment;
  const uint64_t size = end - movie.segment;
  if (size <= UINT32_MAX) {
    header.be32(uint32_t(size));  // size
  } else {
    if (movie.segment != movie.wideOffset + kWideSize) return paramErr;
    // The wide atom and the mdat header together become one 16-byte header.
    at = movie.wideOffset;
    header.be32(1);  // size 1: a 64-bit size follows
    header.code(fourCC("mdat"));
    header.be64(end - movie.wideOffset);  // 64-bit size
  }
  return movie.sink->write(at, header.data(), header.size());
}

// Turns a movie atom into a 'free' atom that readers skip. It is four bytes
// of its type, so a write cut short leaves one type or the other, or one no
// reader knows and skips as well.
OSErr freeMovieAtom(Sink& sink, const MovieAtomPlace& atom) {
  static const uint8_t kFree[4] = {'f', 'r', 'e', 'e'};
  return sink.write(atom.offset + 4, kFree, sizeof kFree);
}

// Movie time (ms) of the samples so far, the longest media's.
uint64_t movieTime(const MovieRecord& movie) {
  uint64_t longest = 0;
  for (const auto& t : movie.tracks) {
    if (!t->media) continue;
    const uint64_t d = toMovieTime(t->media->samples.totalDuration(), t->media->timeScale);
    if (d > longest) longest = d;
  }
  return longest;
}

}  // namespace

OSErr writeFileHeader(MovieRecord& movie) {
  ByteWriter w;
  {
    // ftyp: file type
    Atom a(w, fourCC("ftyp"));
    w.code(fourCC("qt  "));  // major brand
    w.be32(0x20050300);      // minor version
    w.code(fourCC("qt  "));  // compatible brand
  }
  movie.wideOffset = w.size();
  {
    // wide: room that the first mdat header could grow into; kept so every
    // movie starts the same way.
    Atom a(w, fourCC("wide"));
  }
  movie.segment = w.size();
  openMdat(w);
  if (OSErr err = movie.sink->write(0, w.data(), w.size())) return err;
  movie.end = w.size();
  return noErr;
}

void buildMovieAtom(const MovieRecord& movie, ByteWriter& w, bool checkpoint) {
  // moov: movie
  Atom a(w, fourCC("moov"));
  mvhd(w, movie, checkpoint);
  for (const auto& t : movie.tracks)
    if (t->media) trak(w, movie, *t, checkpoint);
}

OSErr checkpointIfDue(MovieRecord& movie, uint32_t nextSampleSize) {
  CheckpointState& c = movie.checkpoint;
  if (!c.enabled) return noErr;
  // mdat sizes stay 32-bit: a segment that would pass 4 GiB is closed first,
  // once the last checkpoint has settled.
  const bool forced = movie.end - movie.segment + nextSampleSize > kLargestMdat;
  if (!forced) {
    // One checkpoint at a time: the last must have reached the disk.
    if (c.settling != Settling::settled) return noErr;
    const uint64_t now = movieTime(movie);
    if (now == 0) return noErr;  // no sample yet: nothing to keep
    if (c.live.size && now - c.coveredTime < kCheckpointInterval) return noErr;
    if (movie.end < c.affordableAt) return noErr;
  } else if (OSErr err = settleCheckpoint(movie, true)) {
    return err;
  }

  ByteWriter& w = c.atom;
  w.clear();
  buildMovieAtom(movie, w, true);
  const MovieAtomPlace atom{movie.end, w.size()};
  // Every checkpoint's atom ends up as a free one. The first ones may spend
  // the allowance; after that all of them together stay within a share of
  // the file however long the recording gets, so checkpoints come less often
  // as each costs more. One that cannot be afforded waits until the file is
  // large enough for it.
  const uint64_t cost = c.overhead + atom.size + kMdatHeaderSize;
  if (!forced && c.live.size && cost > std::max(kCheckpointAllowance, movie.end / kCheckpointShare)) {
    c.affordableAt = cost * kCheckpointShare;
    return noErr;
  }
  openMdat(w);  // where the samples go next
  Sink& sink = *movie.sink;
  // Until the open mdat is closed, the new atom lies inside it and no reader
  // sees it; once closed, it is a complete movie atom for every sample so far.
  if (OSErr err = sink.write(atom.offset, w.data(), w.size())) return err;
  if (OSErr err = closeMdat(movie, atom.offset)) return err;
  c.stale = c.live;
  c.live = atom;
  c.settling = Settling::flushLive;
  c.coveredTime = movieTime(movie);
  c.overhead = cost;
  ++c.written;
  for (const auto& t : movie.tracks)
    if (t->media) t->media->liveSamples = t->media->samples.count();
  movie.segment = atom.offset + atom.size;
  movie.end = movie.segment + kMdatHeaderSize;
  return settleCheckpoint(movie, false);
}

OSErr settleCheckpoint(MovieRecord& movie, bool wait) {
  CheckpointState& c = movie.checkpoint;
  Sink& sink = *movie.sink;
  while (c.settling != Settling::settled) {
    if (c.settling == Settling::freeStale) {
      if (c.stale.size) {
        if (OSErr err = freeMovieAtom(sink, c.stale)) return err;
      }
      c.settling = Settling::flushFree;
      continue;
    }
    // A flush: waited for, or started and looked at again on a later call.
    OSErr status;
    if (wait) {
      status = sink.flush();
    } else if (c.flushRunning) {
      status = sink.flushStatus();
    } else {
      status = sink.startFlush();
      c.flushRunning = status == kFlushInProgress;
    }
    if (status == kFlushInProgress) return noErr;
    c.flushRunning = false;
    if (status != noErr) return status;
    if (c.settling == Settling::flushLive) {
      c.settling = Settling::freeStale;
    } else {
      c.settling = Settling::settled;
      c.stale = MovieAtomPlace();
      for (const auto& t : movie.tracks)
        if (t->media) t->media->checkpointedSamples = t->media->liveSamples;
    }
  }
  return noErr;
}

OSErr writeMovieResource(MovieRecord& movie) {
  if (OSErr err = settleCheckpoint(movie, true)) return err;
  ByteWriter w;
  buildMovieAtom(movie, w, false);
  Sink& sink = *movie.sink;
  // The same order as a checkpoint: the atom, then the mdat closed in front
  // of it, then the last checkpoint's atom freed. Nothing is committed before
  // the end, so a failure anywhere can be retried from the start.
  if (OSErr err = sink.write(movie.end, w.data(), w.size())) return err;
  if (OSErr err = closeMdat(movie, movie.end)) return err;
  if (OSErr err = sink.flush()) return err;
  CheckpointState& c = movie.checkpoint;
  if (c.live.size) {
    if (OSErr err = freeMovieAtom(sink, c.live)) return err;
  }
  if (OSErr err = sink.setLength(movie.end + w.size())) return err;
  if (OSErr err = sink.flush()) return err;
  c.live = MovieAtomPlace{movie.end, w.size()};
  for (const auto& t : movie.tracks)
    if (t->media) t->media->checkpointedSamples = t->media->samples.count();
  return noErr;
}

}  // namespace qt
