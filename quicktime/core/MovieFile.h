// The atoms of a QuickTime movie file laid out the classic way: media data
// first, written as samples arrive, and the movie atom after it.
//
//   ftyp 'qt  '      20 bytes
//   wide              8 bytes
//   mdat              8-byte header, then the samples
//   moov             appended when the movie is finished
//
// While samples arrive the file also holds what keeps it readable (written
// by MovieKeeper.cpp): a movie atom with a placeholder track right after the
// header (freed once the next one is in place), then, about once a second, a
// movie fragment ('moof') for the samples written since. The samples after
// the last fragment lie in an open region, a 'free' atom that runs to the
// end of the file, so readers skip it; revealing a fragment turns the
// region's header into an 'mdat' of its size, which brings the fragment
// after it into view. The first fragment comes after the movie atom with
// 'mvex':
//
//   ftyp wide mdat(empty) moov(placeholder) free(open)        at first
//   ftyp wide mdat(empty) free mdat moov(mvex) free moof mdat(empty) mdat
//   moof mdat(empty) ... free(open, to the end of the file)
//
// (An empty mdat follows each fragment: some readers take a fragment's
// samples only once they meet an mdat after it.)
//
// Every header that is patched later lies within one 512-byte sector (small
// 'free' atoms move it there), so a write of it reaches the disk whole or
// not at all. The finished movie's first mdat spans all of that, so readers
// see "ftyp wide mdat moov" (or "ftyp mdat moov" with a 64-bit mdat past
// 4 GiB).
#pragma once

#include <cstdint>

#include "AtomWriter.h"
#include "MovieModel.h"
#include "QuickTimeTypes.h"

namespace qt {

// Every movie we write counts time in milliseconds: the program's media do too,
// so track and movie durations equal media durations exactly.
constexpr TimeScale kMovieTimeScale = 1000;

// The unit a disk writes whole: a patch that stays within one is on the
// disk entirely or not at all after a power cut.
constexpr uint64_t kSectorSize = 512;

// ftyp, wide and an mdat header whose size reads 0 ("to the end of the
// file"); sets the movie's wideOffset and firstMdat to where they land when
// `w` is written at offset 0.
void buildFileHeader(MovieRecord& movie, ByteWriter& w);

// The header of an open region: a 'free' atom whose size reads 0, "to the
// end of the file", so whatever follows it, torn samples or an unfinished
// atom, is skipped by readers until the header is patched.
void openRegion(ByteWriter& w);

// When `w` is to be written at file offset `at`: appends a 'free' atom, if
// needed, so that the next `bytes` (at most 16) written to `w` lie within
// one sector.
void alignForPatch(ByteWriter& w, uint64_t at, size_t bytes);

// Serialises the whole moov atom. The finished movie's describes every
// track with a media, with its edit; the fragmented one only the tracks with
// a sample description (or a placeholder track without samples while there
// is none), with no edit, and 'mvex' so fragments may follow. Returns, for
// the fragmented one, where in `w` its 'mehd' keeps the fragments' duration.
size_t buildMovieAtom(const MovieRecord& movie, ByteWriter& w, bool fragmented);

// Serialises a moof atom for each fragmented media's samples after its
// `fragmentedSamples`; false when there are none.
bool buildMovieFragment(const MovieRecord& movie, uint32_t sequence, ByteWriter& w);

// A media's duration in the movie's time scale, rounded to nearest.
uint32_t toMovieTime(uint64_t mediaTime, TimeScale mediaScale);

}  // namespace qt
