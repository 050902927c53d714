// What a recording's file looks like at every moment, judged write by
// write: each patch lies within one 512-byte sector (a disk writes a sector
// whole or not at all); the open region after the last fragment is a 'free'
// atom that readers skip, never an mdat that runs to the end of the file,
// and each reveal turns it into its mdat in one write; the movie atom a
// reader meets is a whole movie from the first write on (a track with its
// tables, 'mvex' with a 'trex' for a track it has) and its 'mehd' says how
// long the fragments on view play.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>

#include "AvDemux.h"
#include "Handles.h"
#include "Movies.h"
#include "TestSupport.h"

namespace {

constexpr size_t kSector = 512;

struct Journaled {
  std::shared_ptr<test::JournalSink> sink = std::make_shared<test::JournalSink>();
  std::vector<TimeValue> durations;
  std::vector<size_t> callEnds;  // journal entries after each sample's call
};

// A recording of `frames` raw samples of sizes drawn from 17 to 700 bytes
// (larger than any patch), so
// that fragments and patches land at every position within a sector, with
// the keeper's turns driven by the samples' own times.
Journaled record(uint32_t seed, int frames) {
  Journaled j;
  test::ManualClock clock;
  test::MovieParts p = test::makeMovie(j.sink, 4, 4, 1000, test::drivenOptions(clock));
  ImageDescriptionHandle desc = test::makeDescription(kRawCodecType, 4, 4);
  Handle data = qt::NewHandle(700);
  std::mt19937 random(seed);
  for (int i = 0; i < frames; ++i) {
    const uint32_t size = 17 + random() % 684;
    const TimeValue duration = TimeValue(40 + random() % 300);
    std::memset(*data, i, size);
    clock.advance(uint64_t(duration));
    EXPECT_EQ(qt::AddMediaSample(p.media, data, 0, size, duration, desc, 1, 0, nullptr), noErr);
    j.durations.push_back(duration);
    j.callEnds.push_back(j.sink->journal.size());
  }
  EXPECT_EQ(test::finishMovie(p), noErr);
  qt::DisposeMovie(p.movie);
  qt::DisposeHandle(data);
  qt::DisposeHandle(reinterpret_cast<Handle>(desc));
  return j;
}

std::string typeAt(const std::vector<uint8_t>& b, size_t at) {
  return at + 8 <= b.size() ? std::string(reinterpret_cast<const char*>(b.data() + at + 4), 4) : "";
}

TEST(FragmentLayout, EveryPatchLiesInOneSectorAndEachRevealTurnsTheOpenRegionIntoItsMdat) {
  size_t patches = 0, reveals = 0;
  std::set<size_t> positions;  // where in a sector the reveals fell
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    const Journaled j = record(seed, 300);
    test::MemorySink file;
    bool finished = false;
    for (size_t i = 0; i < j.sink->journal.size(); ++i) {
      const auto& e = j.sink->journal[i];
      const std::string where = "seed " + std::to_string(seed) + ", write " + std::to_string(i);
      if (e.kind == test::JournalSink::Entry::kWrite && i > 0 && e.bytes.size() <= 16) {
        ++patches;
        ASSERT_EQ(e.offset / kSector, (e.offset + e.bytes.size() - 1) / kSector)
            << where << ": a patch of " << e.bytes.size() << " bytes at " << e.offset;
        if (e.bytes.size() == 8 && std::memcmp(e.bytes.data() + 4, "mdat", 4) == 0) {
          ++reveals;
          positions.insert(size_t(e.offset % kSector));
          ASSERT_EQ(typeAt(file.bytes, size_t(e.offset)), "free") << where;
          ASSERT_EQ(test::be32At(file.bytes, size_t(e.offset)), 0u) << where << ": the region was not open";
        }
        if (e.offset <= 28 && e.offset + e.bytes.size() > 28) finished = true;  // the first mdat closed
      }
      if (e.kind == test::JournalSink::Entry::kWrite) file.write(e.offset, e.bytes.data(), e.bytes.size());
      if (e.kind == test::JournalSink::Entry::kLength) file.setLength(e.offset);
      // No atom a reader walks to runs to the end of the file but the open
      // region; the first mdat only until the file's header is whole.
      if (finished) continue;
      for (uint64_t at = 0; at + 8 <= file.bytes.size();) {
        const uint32_t size = test::be32At(file.bytes, size_t(at));
        if (size == 0) {
          ASSERT_EQ(typeAt(file.bytes, size_t(at)), i == 0 ? typeAt(file.bytes, size_t(at)) : "free")
              << where << ": an atom at " << at << " runs to the end of the file";
          break;
        }
        if (size < 8) break;
        at += size;
      }
    }
    EXPECT_EQ(test::atomLayout(file.bytes), "ftyp wide mdat moov");
  }
  EXPECT_GT(reveals, 1500u);
  EXPECT_GT(patches, 3 * reveals / 2);
  EXPECT_GT(positions.size(), 300u) << "reveals at too few places in a sector to show the rule";
}

// The movie atom a reader takes: the first one it meets walking the file.
struct LiveMovie {
  std::vector<uint8_t> moov;  // its bytes, header included
  bool found = false;
};
LiveMovie liveMovie(const std::vector<uint8_t>& file) {
  LiveMovie m;
  for (const test::TopAtom& a : test::topLevelAtoms(file)) {
    if (a.type != "moov") continue;
    m.moov.assign(file.begin() + long(a.offset), file.begin() + long(a.offset + a.size));
    m.found = true;
    break;
  }
  return m;
}

// Every box a strict reader requires of a movie whose tracks may have no
// samples yet and whose fragments follow.
void expectWholeMovie(const std::vector<uint8_t>& moov, const std::string& where) {
  for (const char* path :
       {"moov/mvhd", "moov/trak/tkhd", "moov/trak/mdia/mdhd", "moov/trak/mdia/hdlr",
        "moov/trak/mdia/minf/vmhd", "moov/trak/mdia/minf/dinf/dref", "moov/trak/mdia/minf/stbl/stsd",
        "moov/trak/mdia/minf/stbl/stts", "moov/trak/mdia/minf/stbl/stsc", "moov/trak/mdia/minf/stbl/stsz",
        "moov/trak/mdia/minf/stbl/stco", "moov/mvex/mehd", "moov/mvex/trex"})
    ASSERT_TRUE(test::findAtom(moov, path).found) << where << ": no " << path;
  const test::AtomRef stsd = test::findAtom(moov, "moov/trak/mdia/minf/stbl/stsd");
  EXPECT_GE(test::be32At(moov, stsd.offset + 12), 1u) << where << ": no sample description";
  const test::AtomRef tkhd = test::findAtom(moov, "moov/trak/tkhd");
  const test::AtomRef trex = test::findAtom(moov, "moov/mvex/trex");
  EXPECT_EQ(test::be32At(moov, trex.offset + 12), test::be32At(moov, tkhd.offset + 20))
      << where << ": trex names a track the movie lacks";
  const test::AtomRef mvhd = test::findAtom(moov, "moov/mvhd");
  EXPECT_GT(test::be32At(moov, mvhd.offset + 8 + 4 + 96), test::be32At(moov, tkhd.offset + 20))
      << where << ": the next track id is taken";
}

TEST(FragmentLayout, TheFileIsAWholeMovieFromItsFirstWriteAndMehdSaysHowLongItPlays) {
  const Journaled j = record(99, 120);
  // The header alone: ffprobe opens it, one video stream, no packet.
  {
    const auto& first = j.sink->journal[0];
    const std::string path = test::saveFile("header-only.mov", first.bytes);
    EXPECT_EQ(
        test::run("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " + path + " && echo opened"),
        "video\nopened\n");
    const test::DemuxedMovie read = test::avDemux(first.bytes);
    ASSERT_TRUE(read.opened) << read.error;
    EXPECT_EQ(read.streams, 1u);
    EXPECT_EQ(read.packets.size(), 0u);
  }
  test::MemorySink file;
  size_t call = 0, checked = 0;
  for (size_t i = 0; i < j.sink->journal.size(); ++i) {
    const auto& e = j.sink->journal[i];
    if (e.kind == test::JournalSink::Entry::kWrite) file.write(e.offset, e.bytes.data(), e.bytes.size());
    if (e.kind == test::JournalSink::Entry::kLength) file.setLength(e.offset);
    const std::string where = "after write " + std::to_string(i);
    const LiveMovie live = liveMovie(file.bytes);
    ASSERT_TRUE(live.found) << where << ": " << test::atomLayout(file.bytes);
    if (test::findAtom(live.moov, "moov/mvex").found) {
      expectWholeMovie(live.moov, where);
      if (HasFatalFailure()) return;
    }
    // After each call: the duration 'mehd' gives is that of the packets a
    // reader finds, and trex's default is the first sample's duration.
    while (call < j.callEnds.size() && j.callEnds[call] < i + 1) ++call;
    if (call == j.callEnds.size() || j.callEnds[call] != i + 1) continue;
    const test::AtomRef mehd = test::findAtom(live.moov, "moov/mvex/mehd");
    const test::DemuxedMovie read = test::avDemux(file.bytes);
    ASSERT_TRUE(read.opened) << where << ": " << read.error;
    int64_t plays = 0;
    for (size_t k = 0; k < read.packets.size(); ++k) plays += j.durations[k];
    ASSERT_EQ(int64_t(test::be32At(live.moov, mehd.offset + 12)), plays) << where;
    if (!read.packets.empty()) {
      const test::AtomRef trex = test::findAtom(live.moov, "moov/mvex/trex");
      EXPECT_EQ(int64_t(test::be32At(live.moov, trex.offset + 20)), j.durations[0]) << where;
      ++checked;
    }
  }
  EXPECT_GT(checked, 100u);
}

}  // namespace
