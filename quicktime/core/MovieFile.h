// The atoms of a QuickTime movie file laid out the classic way: media data
// first, written as samples arrive, and the movie atom after it.
//
//   ftyp 'qt  '      20 bytes
//   wide              8 bytes
//   mdat              8-byte header, then the samples
//   moov             appended when the movie is finished
//
// While samples arrive the file also holds what keeps it readable (written
// by MovieKeeper.cpp): a movie atom without tracks right after the header
// (freed once the next one is in place), then, about once a second, a movie
// fragment ('moof') for the samples written since, each followed by a new
// open mdat; the first fragment comes after the movie atom with 'mvex':
//
//   ftyp wide mdat(empty) free mdat moov(mvex) mdat(empty) moof mdat moof
//   ... mdat(open, to the end of the file)
//
// The finished movie's first mdat spans all of that, so readers see
// "ftyp wide mdat moov" (or "ftyp mdat moov" with a 64-bit mdat past 4 GiB).
#pragma once

#include <cstdint>

#include "AtomWriter.h"
#include "MovieModel.h"
#include "QuickTimeTypes.h"

namespace qt {

// Every movie we write counts time in milliseconds: the program's media do too,
// so track and movie durations equal media durations exactly.
constexpr TimeScale kMovieTimeScale = 1000;

// ftyp, wide and an open mdat header; sets the movie's wideOffset and
// firstMdat to where they land when `w` is written at offset 0.
void buildFileHeader(MovieRecord& movie, ByteWriter& w);

// An mdat header whose size reads 0, "to the end of the file", so whatever
// follows it, torn samples or an unfinished atom, is media data that nothing
// points into until its size is patched.
void openMdat(ByteWriter& w);

// Serialises the whole moov atom. The finished movie's describes every
// track with a media, with its edit; the fragmented one only the tracks with
// a sample description, with no edit, and 'mvex' so fragments may follow.
void buildMovieAtom(const MovieRecord& movie, ByteWriter& w, bool fragmented);

// Serialises a moof atom for each fragmented media's samples after its
// `fragmentedSamples`; false when there are none.
bool buildMovieFragment(const MovieRecord& movie, uint32_t sequence, ByteWriter& w);

// A media's duration in the movie's time scale, rounded to nearest.
uint32_t toMovieTime(uint64_t mediaTime, TimeScale mediaScale);

}  // namespace qt
