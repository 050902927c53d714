#include "MovieKeeper.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <system_error>

#include "MovieFile.h"

namespace qt {
namespace {

constexpr uint32_t kMdatHeaderSize = 8;
// A fragment's samples are found by 32-bit signed offsets from its first
// one, and the mdat that holds them gets a 32-bit size: the open mdat is
// closed before its samples would span more than this.
constexpr uint64_t kLargestSpan = INT32_MAX;

Patch sizePatch(uint64_t offset, uint32_t size) {
  Patch p;
  p.offset = offset;
  p.bytes[0] = uint8_t(size >> 24);
  p.bytes[1] = uint8_t(size >> 16);
  p.bytes[2] = uint8_t(size >> 8);
  p.bytes[3] = uint8_t(size);
  return p;
}

// Turns the atom at `atom` into a 'free' one that readers skip. Four bytes
// of its type: a write cut short leaves one type or the other.
Patch freePatch(uint64_t atom) {
  Patch p;
  p.offset = atom + 4;
  p.bytes[0] = 'f';
  p.bytes[1] = 'r';
  p.bytes[2] = 'e';
  p.bytes[3] = 'e';
  return p;
}

// Writes the fragment for every sample no fragment describes yet, with a
// new open mdat after it, at the end of the file; its patches are left for
// `arrive`. Nothing changes in the record unless the write succeeded.
//
// The first time, the fragment comes after the movie atom that lets
// fragments follow, with an open mdat between them: a reader takes the first
// movie atom it meets and refuses a fragment of a track that atom lacks, so
// the new atom is revealed first, then the header's trackless one freed, and
// only then the fragment behind it revealed.
OSErr writeFragment(MovieRecord& m) {
  FragmentState& f = m.fragments;
  ByteWriter& w = f.atom;
  w.clear();
  const bool first = !f.movieWritten;
  size_t movieSize = 0;
  if (first) {
    buildMovieAtom(m, w, true);
    for (const auto& t : m.tracks)
      if (t->media && !t->media->description.empty()) t->media->inFragments = true;
    movieSize = w.size();
    openMdat(w);
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
    movieSize = 0;
  }
  const uint64_t at = m.end;
  const size_t atomSize = w.size();
  openMdat(w);
  if (OSErr err = m.sink->write(at, w.data(), w.size())) return err;

  f.patchCount = 0;
  f.patches[f.patchCount++] = sizePatch(m.segment, uint32_t(at - m.segment));
  if (movieSize) {
    if (f.headerMovie) f.patches[f.patchCount++] = freePatch(f.headerMovie);
    f.patches[f.patchCount++] = sizePatch(at + movieSize, uint32_t(fragmentAt - movieSize));
    f.movieWritten = true;
  }
  if (atomSize > fragmentAt) ++f.sequence;
  for (const auto& t : m.tracks) {
    MediaRecord* md = t->media.get();
    if (!md || !md->inFragments) continue;
    md->fragmentedSamples = md->samples.count();
    md->fragmentedTime = md->samples.totalDuration();
  }
  f.arriving = true;
  f.patchesDone = 0;
  f.pending = false;
  f.overhead += w.size();
  m.segment = at + atomSize;
  m.end = m.segment + kMdatHeaderSize;
  return noErr;
}

// Takes the fragment on its way to the disk: a flush, then each patch and a
// flush after it. The flushes run without the lock, so samples go on being
// written meanwhile; they lie after the fragment and are not its concern.
OSErr arrive(MovieRecord& m, std::unique_lock<std::mutex>& g) {
  FragmentState& f = m.fragments;
  for (;;) {
    g.unlock();
    const OSErr flushed = m.sink->flush();
    g.lock();
    if (flushed != noErr) return flushed;
    if (f.patchesDone == f.patchCount) break;
    const Patch& p = f.patches[f.patchesDone];
    if (OSErr err = m.sink->write(p.offset, p.bytes, sizeof p.bytes)) return err;
    ++f.patchesDone;
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
    if (OSErr err = keepReadable(*m, g, false)) m->fragments.failure = err;
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
    // without tracks after it makes the file open from the first moment.
    w.patch32(size_t(m.firstMdat), kMdatHeaderSize);
    f.headerMovie = w.size();
    buildMovieAtom(m, w, true);
    f.overhead = w.size() - f.headerMovie + kMdatHeaderSize;
    m.segment = w.size();
    openMdat(w);
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

OSErr writeMovieResource(MovieRecord& m) {
  m.finishing = true;
  // Whatever the keeper could not do is moot once the movie is whole.
  m.fragments.failure = noErr;
  ByteWriter w;
  buildMovieAtom(m, w, false);
  Sink& sink = *m.sink;
  // The atom goes inside the open mdat, where no reader sees it until the
  // first mdat is made to end right in front of it; the file is cut after
  // it, in case a failed write had left bytes beyond.
  if (OSErr err = sink.write(m.end, w.data(), w.size())) return err;
  if (OSErr err = sink.setLength(m.end + w.size())) return err;
  if (OSErr err = sink.flush()) return err;
  if (OSErr err = closeFirstMdat(m, m.end)) return err;
  if (OSErr err = sink.flush()) return err;
  m.fragments.arriving = false;
  for (const auto& t : m.tracks)
    if (t->media) t->media->checkpointedSamples = t->media->samples.count();
  return noErr;
}

}  // namespace qt
