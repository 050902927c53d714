#include "MovieKeeper.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <system_error>

#include "MovieFile.h"
#include "OutOfMemory.h"

namespace qt {
namespace {

constexpr uint32_t kMdatHeaderSize = 8;
// A fragment's samples are found by 32-bit signed offsets from its first
// one, and the mdat that holds them gets a 32-bit size: the open mdat is
// closed before its samples would span more than this.
constexpr uint64_t kLargestSpan = INT32_MAX;

void put32(uint8_t* b, uint32_t v) {
  b[0] = uint8_t(v >> 24);
  b[1] = uint8_t(v >> 16);
  b[2] = uint8_t(v >> 8);
  b[3] = uint8_t(v);
}

Patch sizePatch(uint64_t offset, uint32_t size, bool withPrevious = false) {
  Patch p;
  p.offset = offset;
  p.size = 4;
  p.withPrevious = withPrevious;
  put32(p.bytes, size);
  return p;
}

// Turns the open region at `atom` into the mdat of `size` bytes: size and
// type in one write, within one sector, so a cut leaves one or the other.
Patch revealPatch(uint64_t atom, uint32_t size) {
  Patch p = sizePatch(atom, size);
  p.size = 8;
  put32(p.bytes + 4, fourCC("mdat"));
  return p;
}

// Turns the atom at `atom` into a 'free' one that readers skip. Four bytes
// of its type: a write cut short leaves one type or the other.
Patch freePatch(uint64_t atom) {
  Patch p;
  p.offset = atom + 4;
  p.size = 4;
  put32(p.bytes, fourCC("free"));
  return p;
}

// How long the movie plays with every fragment written so far, in the
// movie's time scale.
uint32_t fragmentedDuration(const MovieRecord& m) {
  uint32_t longest = 0;
  for (const auto& t : m.tracks) {
    const MediaRecord* md = t->media.get();
    if (md && md->inFragments) longest = std::max(longest, toMovieTime(md->fragmentedTime, md->timeScale));
  }
  return longest;
}

// Writes the fragment for every sample no fragment describes yet, with a
// new open region after it, at the end of the file; its patches are left
// for `arrive`. Nothing changes in the record unless the write succeeded.
//
// The first time, the fragment comes after the movie atom that lets
// fragments follow, with an open region between them: a reader takes the
// first movie atom it meets and refuses a fragment of a track that atom
// lacks, so the new atom is revealed first, then the header's one freed,
// and only then the fragment behind it revealed. Every patched field is
// placed within one sector: the movie atom by a few bytes more of the mdat
// it follows, the headers after it by 'free' atoms in front of them.
OSErr writeFragment(MovieRecord& m) {
  FragmentState& f = m.fragments;
  ByteWriter& w = f.atom;
  w.clear();
  const uint64_t at = m.end;
  const bool first = !f.movieWritten;
  size_t closedAt = 0;  // where the mdat that the fragment closes ends, in `w`
  size_t hider = 0;     // the region between the movie atom and the fragment
  size_t duration = 0;  // the movie atom's 'mehd' duration field
  if (first) {
    ByteWriter movie;
    const size_t field = buildMovieAtom(m, movie, true);
    for (const auto& t : m.tracks)
      if (t->media && !t->media->description.empty()) t->media->inFragments = true;
    const uint64_t inSector = (at + field) % kSectorSize;
    if (inSector + 4 > kSectorSize) w.zeros(size_t(kSectorSize - inSector));
    closedAt = w.size();
    duration = closedAt + field;
    w.raw(movie.data(), movie.size());
    alignForPatch(w, at, 4);
    hider = w.size();
    openRegion(w);
  }
  const size_t fragmentAt = w.size();
  if (!buildMovieFragment(m, f.sequence + 1, w)) {
    // Only samples no fragment can describe: the mdat is closed all the
    // same when it must be, and otherwise left open.
    w.clear();
    if (!f.urgent) {
      f.pending = false;
      return noErr;
    }
    closedAt = hider = duration = 0;
  }
  const bool fragment = w.size() > fragmentAt;
  if (fragment) {
    // An empty mdat after the fragment: some readers (VLC) take a
    // fragment's samples only once they meet an mdat after it, and the open
    // region is no mdat until the next fragment reveals it.
    w.be32(kMdatHeaderSize);
    w.code(fourCC("mdat"));
  }
  alignForPatch(w, at, 8);
  const size_t region = w.size();
  openRegion(w);
  if (OSErr err = m.sink->write(at, w.data(), w.size())) return err;

  if (fragment) ++f.sequence;
  for (const auto& t : m.tracks) {
    MediaRecord* md = t->media.get();
    if (!md || !md->inFragments) continue;
    md->fragmentedSamples = md->samples.count();
    md->fragmentedTime = md->samples.totalDuration();
  }
  f.patchCount = 0;
  f.patches[f.patchCount++] = revealPatch(m.segment, uint32_t(at + closedAt - m.segment));
  if (hider) {
    if (f.headerMovie) f.patches[f.patchCount++] = freePatch(f.headerMovie);
    f.patches[f.patchCount++] = sizePatch(at + hider, uint32_t(fragmentAt - hider));
    f.duration = at + duration;
    f.movieWritten = true;
  }
  // The movie's duration, with the fragment that the last patch reveals.
  if (fragment && f.duration) f.patches[f.patchCount++] = sizePatch(f.duration, fragmentedDuration(m), true);
  f.arriving = true;
  f.patchesDone = 0;
  f.pending = false;
  f.overhead += w.size();
  m.segment = at + region;
  m.end = m.segment + kMdatHeaderSize;
  // A sample waiting for the mdat to be closed can go into the new one now.
  m.changed.notify_all();
  return noErr;
}

// Takes the fragment on its way to the disk: a flush, then each patch (with
// those that go with it) and a flush after it. The flushes run without the
// lock, so samples go on being written meanwhile; they lie after the
// fragment and are not its concern. When the keeper is told to stop, it
// stops after the flush it is in; the movie's end or its next turn takes
// the rest.
OSErr arrive(MovieRecord& m, std::unique_lock<std::mutex>& g, bool whole = false) {
  FragmentState& f = m.fragments;
  for (;;) {
    g.unlock();
    const OSErr flushed = m.sink->flush();
    g.lock();
    if (flushed != noErr) return flushed;
    if (f.patchesDone == f.patchCount) break;
    if (m.stopping && !whole) return noErr;
    int next = f.patchesDone;
    do {
      const Patch& p = f.patches[next];
      if (OSErr err = m.sink->write(p.offset, p.bytes, p.size)) return err;
      ++next;
    } while (next < f.patchCount && f.patches[next].withPrevious);
    f.patchesDone = next;
  }
  f.arriving = false;
  if (f.patchCount == 0) return noErr;  // the file header alone
  ++f.written;
  for (const auto& t : m.tracks)
    if (t->media && t->media->inFragments) t->media->checkpointedSamples = t->media->fragmentedSamples;
  return noErr;
}

OSErr failed(MovieRecord& m, OSErr err, uint64_t now) {
  m.fragments.retryAt = now + kFragmentInterval;
  m.fragments.urgent = false;  // the waiting sample is told instead
  return err;
}

// When the keeper has work next, on its clock; UINT64_MAX: none until told.
uint64_t nextTurnAt(const MovieRecord& m) {
  const FragmentState& f = m.fragments;
  if (f.urgent) return 0;
  uint64_t at = UINT64_MAX;
  if (f.arriving)
    at = 0;
  else if (f.pending)
    at = f.pendingSince + kFragmentInterval;
  return at == UINT64_MAX ? at : std::max(at, f.retryAt);
}

void keeperLoop(MovieRecord* m) {
  std::unique_lock<std::mutex> g(m->lock);
  while (!m->stopping) {
    const uint64_t at = nextTurnAt(*m);
    const uint64_t now = m->clock();
    if (at > now) {
      if (at == UINT64_MAX)
        m->changed.wait(g);
      else
        m->changed.wait_for(g, std::chrono::milliseconds(at - now));
      continue;
    }
    // Memory that runs out in a turn is told like a failed write, and the
    // turn is tried again a second later.
    const OSErr err = unlessMemoryRunsOut([&] { return keepReadable(*m, g, false); },
                                          [&] { return failed(*m, memFullErr, m->clock()); });
    if (err != noErr) m->fragments.failure = err;
    m->changed.notify_all();
  }
}

// Makes the first mdat span everything up to `end` with one write inside
// the first sector: its 32-bit size, or, past 4 GiB, a 64-bit header over
// the 'wide' atom in front of it and its own header.
OSErr closeFirstMdat(MovieRecord& m, uint64_t end) {
  ByteWriter header;
  uint64_t at = m.firstMdat;
  const uint64_t size = end - m.firstMdat;
  if (size <= UINT32_MAX) {
    header.be32(uint32_t(size));  // size
  } else {
    at = m.wideOffset;
    header.be32(1);  // size 1: a 64-bit size follows
    header.code(fourCC("mdat"));
    header.be64(end - m.wideOffset);  // 64-bit size
  }
  return m.sink->write(at, header.data(), header.size());
}

}  // namespace

OSErr startMovieFile(MovieRecord& m, bool thread) {
  FragmentState& f = m.fragments;
  ByteWriter w;
  buildFileHeader(m, w);
  if (f.enabled) {
    // The first mdat stays empty until the movie is finished; a movie atom
    // with a track that has no samples yet makes the file a whole movie
    // from the first moment.
    w.patch32(size_t(m.firstMdat), kMdatHeaderSize);
    f.headerMovie = w.size();
    buildMovieAtom(m, w, true);
    alignForPatch(w, 0, 8);
    f.overhead = w.size() - f.headerMovie + kMdatHeaderSize;
    m.segment = w.size();
    openRegion(w);
    f.arriving = true;  // the header's own way to the disk
  } else {
    m.segment = m.firstMdat;
  }
  if (OSErr err = m.sink->write(0, w.data(), w.size())) return err;
  m.end = w.size();
  if (f.enabled && thread) {
    try {
      m.keeper = std::thread(keeperLoop, &m);
    } catch (const std::system_error&) {
      // No thread to be had: the recording thread keeps the file itself.
    } catch (const std::bad_alloc&) {
      // No thread to be had: the recording thread keeps the file itself.
    }
  }
  return noErr;
}

OSErr prepareSample(MovieRecord& m, std::unique_lock<std::mutex>& g, uint32_t size) {
  FragmentState& f = m.fragments;
  if (!f.enabled) return noErr;
  if (f.failure != noErr) {
    const OSErr err = f.failure;
    f.failure = noErr;
    return err;
  }
  const bool keeper = m.keeper.joinable();
  if (!keeper) {
    if (OSErr err = keepReadable(m, g, false)) return err;
  }
  const uint64_t first = m.segment + kMdatHeaderSize;
  if (m.end == first || m.end - first + size <= kLargestSpan) return noErr;
  // The open mdat is full: it is closed by a fragment before the sample.
  const uint64_t segment = m.segment;
  f.urgent = true;
  if (!keeper) return keepReadable(m, g, true);
  m.changed.notify_all();
  m.changed.wait(g, [&] { return m.segment != segment || f.failure != noErr || m.stopping; });
  f.urgent = false;
  if (f.failure != noErr) {
    const OSErr err = f.failure;
    f.failure = noErr;
    return err;
  }
  return m.segment != segment ? OSErr(noErr) : OSErr(dataNotOpenForWrite);
}

void sampleAdded(MovieRecord& m, const MediaRecord& media) {
  FragmentState& f = m.fragments;
  if (!f.enabled || f.pending) return;
  // A media that was not in the fragmented movie atom waits for the end.
  if (f.movieWritten && !media.inFragments) return;
  f.pending = true;
  f.pendingSince = m.clock();
  m.changed.notify_all();
}

OSErr keepReadable(MovieRecord& m, std::unique_lock<std::mutex>& g, bool force) {
  FragmentState& f = m.fragments;
  if (!f.enabled || m.finishing) return noErr;
  const uint64_t now = m.clock();
  force = force || f.urgent;
  if (!force && now < f.retryAt) return noErr;
  if (f.arriving) {
    if (OSErr err = arrive(m, g)) return failed(m, err, now);
  }
  if (f.pending || f.urgent) {
    if (force || now - f.pendingSince >= kFragmentInterval) {
      if (m.stopping) return noErr;
      if (OSErr err = writeFragment(m)) return failed(m, err, now);
      f.urgent = false;
      if (f.arriving) {
        if (OSErr err = arrive(m, g)) return failed(m, err, now);
      }
    }
  }
  f.retryAt = 0;
  return noErr;
}

void stopKeeper(MovieRecord& m) {
  {
    std::lock_guard<std::mutex> g(m.lock);
    m.stopping = true;
    m.changed.notify_all();
  }
  if (m.keeper.joinable()) m.keeper.join();
}

OSErr completeFragment(MovieRecord& m, std::unique_lock<std::mutex>& g) {
  FragmentState& f = m.fragments;
  // Also after a movie atom that failed: until the first mdat spans it, the
  // file shows the fragments, and the patches lie before the atom.
  if (!f.enabled || m.resourceWritten || !f.arriving) return noErr;
  return arrive(m, g, true);
}

OSErr writeMovieResource(MovieRecord& m, std::unique_lock<std::mutex>& g) {
  m.finishing = true;
  // Whatever the keeper could not do is moot once the movie is whole.
  m.fragments.failure = noErr;
  ByteWriter w;
  buildMovieAtom(m, w, false);
  Sink& sink = *m.sink;
  // The atom goes inside the open region, where no reader sees it until the
  // first mdat is made to end right in front of it; the file is cut after
  // it, in case a failed write had left bytes beyond.
  if (OSErr err = sink.write(m.end, w.data(), w.size())) return err;
  if (OSErr err = sink.setLength(m.end + w.size())) return err;
  // The flushes go without the lock: nothing can change the movie once it
  // is finishing, and the program's other calls need not wait for the disk.
  const auto flush = [&] {
    g.unlock();
    const OSErr err = sink.flush();
    g.lock();
    return err;
  };
  if (OSErr err = flush()) return err;
  if (OSErr err = closeFirstMdat(m, m.end)) return err;
  if (OSErr err = flush()) return err;
  m.fragments.arriving = false;
  for (const auto& t : m.tracks)
    if (t->media) t->media->checkpointedSamples = t->media->samples.count();
  return noErr;
}

}  // namespace qt
