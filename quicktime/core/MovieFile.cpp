#include "MovieFile.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace qt {
namespace {

constexpr uint32_t kFixedOne = 0x00010000;
constexpr uint16_t kVolumeOne = 0x0100;  // 8.8 fixed point
constexpr OSType kVendor = fourCC("SKLB");

// Track header flags: enabled, in movie, in preview, in poster.
constexpr uint32_t kTrackFlags = 0xF;
// A fragment's sample flags. A sync sample depends on no other; any other
// depends on those before it and is marked as no sync sample, so readers
// start playback and seek only at key frames.
constexpr uint32_t kSyncSampleFlags = 0x02000000;
constexpr uint32_t kNotSyncSampleFlags = 0x01010000;
// tfhd flags: a 64-bit base data offset follows, so a fragment can point
// back at samples written before it.
constexpr uint32_t kBaseDataOffsetPresent = 0x000001;
// trun flags: data offset, then each sample's duration and size.
constexpr uint32_t kTrunFlags = 0x000001 | 0x000100 | 0x000200;
// trun flag: each sample's flags follow its size. Only runs with a sample
// that is not a sync sample carry them; the others take the track's default
// (sync), and so keep the bytes they had before key frames were told apart.
constexpr uint32_t kTrunSampleFlagsPresent = 0x000400;

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

// The media time a track's edit covers. The fragmented movie atom has no
// edit, which would cut off the fragments after it, and no samples of its
// own: its fragments bring them all.
uint64_t editedMediaTime(const TrackRecord& t, bool fragmented) {
  if (!t.media || fragmented) return 0;
  return t.editMediaDuration > 0 ? uint64_t(t.editMediaDuration) : 0;
}

// The fragmented movie atom's sample tables, empty. (libavformat takes the
// durations of samples listed there as the frame rate's once fragments
// exist, so every sample goes into a fragment instead.)
const SampleTable& noSamples() {
  static const SampleTable* empty = new SampleTable;
  return *empty;
}

uint32_t trackDuration(const TrackRecord& t, bool fragmented) {
  const uint64_t edited = editedMediaTime(t, fragmented);
  return edited ? toMovieTime(edited, t.media->timeScale) : 0;
}

// The tracks a movie atom describes: every one with a media in the finished
// movie; only those whose media has a description in the fragmented one,
// since a fragment can add samples only to a description already written.
bool described(const TrackRecord& t, bool fragmented) {
  return t.media && (!fragmented || !t.media->description.empty());
}

uint32_t movieDuration(const MovieRecord& m, bool fragmented) {
  uint32_t longest = 0;
  for (const auto& t : m.tracks) {
    if (!described(*t, fragmented)) continue;
    uint32_t d = trackDuration(*t, fragmented);
    if (d > longest) longest = d;
  }
  return longest;
}

// mvhd: movie header
void mvhd(ByteWriter& w, const MovieRecord& m, bool fragmented, uint32_t nextTrackId) {
  FullAtom a(w, fourCC("mvhd"), 0, 0);
  w.be32(m.creationTime);                // creation time
  w.be32(m.creationTime);                // modification time
  w.be32(uint32_t(m.timeScale));         // time scale
  w.be32(movieDuration(m, fragmented));  // duration
  w.be32(kFixedOne);                     // preferred rate 1.0
  w.be16(kVolumeOne);                    // preferred volume 1.0
  w.zeros(10);                           // reserved
  matrix(w);
  w.be32(0);            // preview time
  w.be32(0);            // preview duration
  w.be32(0);            // poster time
  w.be32(0);            // selection time
  w.be32(0);            // selection duration
  w.be32(0);            // current time
  w.be32(nextTrackId);  // next track id
}

// tkhd: track header
void tkhd(ByteWriter& w, const MovieRecord& m, const TrackRecord& t, bool fragmented) {
  FullAtom a(w, fourCC("tkhd"), 0, kTrackFlags);
  w.be32(m.creationTime);                // creation time
  w.be32(m.creationTime);                // modification time
  w.be32(t.id);                          // track id
  w.be32(0);                             // reserved
  w.be32(trackDuration(t, fragmented));  // duration, movie time scale
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
void elst(ByteWriter& w, const TrackRecord& t) {
  FullAtom a(w, fourCC("elst"), 0, 0);
  w.be32(1);                        // number of entries
  w.be32(trackDuration(t, false));  // track duration, movie time scale
  w.be32(0);                        // media time
  w.be32(kFixedOne);                // media rate 1.0
}

// edts: edit atom
void edts(ByteWriter& w, const TrackRecord& t) {
  Atom a(w, fourCC("edts"));
  elst(w, t);
}

// mdhd: media header
void mdhd(ByteWriter& w, const MovieRecord& m, const MediaRecord& md, const SampleTable& s) {
  FullAtom a(w, fourCC("mdhd"), 0, 0);
  w.be32(m.creationTime);               // creation time
  w.be32(m.creationTime);               // modification time
  w.be32(uint32_t(md.timeScale));       // time scale
  w.be32(uint32_t(s.totalDuration()));  // duration, sum of sample durations
  w.be16(0);                            // language: Macintosh English
  w.be16(0);                            // quality
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

// stss: sync samples, the 1-based numbers of the key frames; only for a
// media with a sample that is not one (no stss: every sample is)
void stss(ByteWriter& w, const SampleTable& s) {
  FullAtom a(w, fourCC("stss"), 0, 0);
  std::vector<uint32_t> syncs;
  s.syncSamples(syncs);
  w.be32(uint32_t(syncs.size()));  // number of entries
  for (uint32_t n : syncs) w.be32(n + 1);  // sample number
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

// stbl: sample table
void stbl(ByteWriter& w, const TrackRecord& t, const SampleTable& s) {
  Atom a(w, fourCC("stbl"));
  stsd(w, t);
  stts(w, s);
  if (!s.allSync()) stss(w, s);
  stsc(w, s);
  stsz(w, s);
  if (s.needsLargeOffsets())
    co64(w, s);
  else
    stco(w, s);
}

// minf: media information
void minf(ByteWriter& w, const TrackRecord& t, const SampleTable& s) {
  Atom a(w, fourCC("minf"));
  vmhd(w);
  hdlr(w, fourCC("dhlr"), fourCC("alis"), "Alias Data Handler");
  dinf(w);
  stbl(w, t, s);
}

// mdia: media
void mdia(ByteWriter& w, const MovieRecord& m, const TrackRecord& t, const SampleTable& s) {
  Atom a(w, fourCC("mdia"));
  mdhd(w, m, *t.media, s);
  hdlr(w, fourCC("mhlr"), t.media->type, "Video Media Handler");
  minf(w, t, s);
}

// trak: track
void trak(ByteWriter& w, const MovieRecord& m, const TrackRecord& t, bool fragmented) {
  Atom a(w, fourCC("trak"));
  tkhd(w, m, t, fragmented);
  if (!fragmented && editedMediaTime(t, false) > 0) edts(w, t);
  mdia(w, m, t, fragmented ? noSamples() : t.media->samples);
}

// trex: track extends, the defaults of the track's fragments. Every
// fragment gives each sample its own duration; the default is the first
// sample's, the frame interval a reader that wants one should assume.
void trex(ByteWriter& w, const TrackRecord& t) {
  FullAtom a(w, fourCC("trex"), 0, 0);
  const SampleTable& s = t.media->samples;
  w.be32(t.id);  // track id
  w.be32(1);     // default sample description: the one there is
  w.be32(s.timeRuns().empty() ? 0 : s.timeRuns()[0].duration);  // default sample duration
  w.be32(0);                 // default sample size: each sample has its own
  w.be32(kSyncSampleFlags);  // default sample flags
}

// mehd: movie extends header, how long the movie plays with the fragments
// the file shows; patched as each one is revealed. Returns where its
// duration field lies in `w`.
size_t mehd(ByteWriter& w) {
  FullAtom a(w, fourCC("mehd"), 0, 0);
  const size_t at = w.size();
  w.be32(0);  // fragment duration, movie time scale
  return at;
}

// mvex: movie extends; tells readers that movie fragments follow
size_t mvex(ByteWriter& w, const MovieRecord& m, const TrackRecord* placeholder) {
  Atom a(w, fourCC("mvex"));
  const size_t duration = mehd(w);
  if (placeholder) trex(w, *placeholder);
  for (const auto& t : m.tracks)
    if (described(*t, true)) trex(w, *t);
  return duration;
}

// mfhd: movie fragment header
void mfhd(ByteWriter& w, uint32_t sequence) {
  FullAtom a(w, fourCC("mfhd"), 0, 0);
  w.be32(sequence);  // sequence number
}

// tfhd: track fragment header, with the absolute offset its samples count from
void tfhd(ByteWriter& w, uint32_t trackId, uint64_t baseOffset) {
  FullAtom a(w, fourCC("tfhd"), 0, kBaseDataOffsetPresent);
  w.be32(trackId);     // track id
  w.be64(baseOffset);  // base data offset
}

// tfdt: track fragment decode time, where the fragment's first sample starts
void tfdt(ByteWriter& w, uint64_t decodeTime) {
  FullAtom a(w, fourCC("tfdt"), 1, 0);
  w.be64(decodeTime);  // base media decode time, media time scale
}

// trun: track run, samples that lie one after the other in the file
void trun(ByteWriter& w, const SampleTable& s, uint32_t first, uint32_t count, const uint32_t* durations,
          uint64_t baseOffset) {
  bool allSync = true;
  for (uint32_t i = 0; i < count && allSync; ++i) allSync = s.isSync(first + i);
  FullAtom a(w, fourCC("trun"), 0, allSync ? kTrunFlags : kTrunFlags | kTrunSampleFlagsPresent);
  w.be32(count);                                               // sample count
  w.be32(uint32_t(int32_t(s.offsets()[first] - baseOffset)));  // data offset from the base
  for (uint32_t i = 0; i < count; ++i) {
    w.be32(durations[i]);          // sample duration
    w.be32(s.sizes()[first + i]);  // sample size
    if (!allSync) w.be32(s.isSync(first + i) ? kSyncSampleFlags : kNotSyncSampleFlags);  // sample flags
  }
}

// traf: track fragment, the media's samples from `first` on
void traf(ByteWriter& w, const TrackRecord& t, std::vector<uint32_t>& durations) {
  Atom a(w, fourCC("traf"));
  const MediaRecord& md = *t.media;
  const SampleTable& s = md.samples;
  const uint32_t first = md.fragmentedSamples;
  s.durationsFrom(first, durations);
  const uint64_t base = s.offsets()[first];
  tfhd(w, t.id, base);
  tfdt(w, md.fragmentedTime);
  // One run per stretch of samples that follow each other in the file.
  for (uint32_t from = first; from < s.count();) {
    uint32_t to = from + 1;
    while (to < s.count() && s.offsets()[to] == s.offsets()[to - 1] + s.sizes()[to - 1]) ++to;
    trun(w, s, from, to - from, durations.data() + (from - first), base);
    from = to;
  }
}

}  // namespace

uint32_t toMovieTime(uint64_t mediaTime, TimeScale mediaScale) {
  if (mediaScale <= 0) return 0;
  if (mediaScale == kMovieTimeScale) return uint32_t(mediaTime);
  return uint32_t((mediaTime * kMovieTimeScale + uint64_t(mediaScale) / 2) / uint64_t(mediaScale));
}

void openRegion(ByteWriter& w) {
  w.be32(0);  // size: to the end of the file
  w.code(fourCC("free"));
}

void alignForPatch(ByteWriter& w, uint64_t at, size_t bytes) {
  const uint64_t inSector = (at + w.size()) % kSectorSize;
  if (inSector + bytes <= kSectorSize) return;
  // A 'free' atom up to 8 bytes into the next sector: the smallest atom
  // that takes the patch there.
  Atom gap(w, fourCC("free"));
  w.zeros(size_t(kSectorSize + 8 - inSector) - 8);
}

void buildFileHeader(MovieRecord& movie, ByteWriter& w) {
  {
    // ftyp: file type
    Atom a(w, fourCC("ftyp"));
    w.code(fourCC("qt  "));  // major brand
    w.be32(0x20050300);      // minor version
    w.code(fourCC("qt  "));  // compatible brand
  }
  movie.wideOffset = w.size();
  {
    // wide: room for the first mdat header to grow into a 64-bit one
    Atom a(w, fourCC("wide"));
  }
  movie.firstMdat = w.size();
  w.be32(0);  // size: to the end of the file
  w.code(fourCC("mdat"));
}

size_t buildMovieAtom(const MovieRecord& movie, ByteWriter& w, bool fragmented) {
  // moov: movie
  // Before any media has a description, a track without samples stands in
  // the fragmented one, so that the movie is whole and its fragments'
  // defaults have a track.
  std::unique_ptr<TrackRecord> placeholder;
  if (fragmented && std::none_of(movie.tracks.begin(), movie.tracks.end(),
                                 [](const auto& t) { return described(*t, true); })) {
    placeholder.reset(new TrackRecord);
    placeholder->id = uint32_t(movie.tracks.size() + 1);
    placeholder->media.reset(new MediaRecord);
    placeholder->media->type = VideoMediaType;
    placeholder->media->timeScale = kMovieTimeScale;
  }
  Atom a(w, fourCC("moov"));
  mvhd(w, movie, fragmented, uint32_t(movie.tracks.size() + (placeholder ? 2 : 1)));
  for (const auto& t : movie.tracks)
    if (described(*t, fragmented)) trak(w, movie, *t, fragmented);
  if (!fragmented) return 0;
  if (placeholder) trak(w, movie, *placeholder, true);
  return mvex(w, movie, placeholder.get());
}

bool buildMovieFragment(const MovieRecord& movie, uint32_t sequence, ByteWriter& w) {
  std::vector<uint32_t> durations;
  bool any = false;
  // moof: movie fragment
  Atom a(w, fourCC("moof"));
  mfhd(w, sequence);
  for (const auto& t : movie.tracks) {
    const MediaRecord* md = t->media.get();
    if (!md || !md->inFragments || md->samples.count() == md->fragmentedSamples) continue;
    traf(w, *t, durations);
    any = true;
  }
  return any;
}

}  // namespace qt
