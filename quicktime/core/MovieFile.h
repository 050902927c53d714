// The bytes of a QuickTime movie file laid out the classic way: media data
// first, written as samples arrive, and the movie atom appended at the end.
//
//   ftyp 'qt  '      20 bytes
//   wide              8 bytes, room for a 64-bit mdat header
//   mdat              8-byte header, then the samples
//   moov             appended by writeMovieResource
#pragma once

#include <cstdint>

#include "AtomWriter.h"
#include "MovieModel.h"
#include "QuickTimeTypes.h"

namespace qt {

// Every movie we write counts time in milliseconds: the program's media do too,
// so track and movie durations equal media durations exactly.
constexpr TimeScale kMovieTimeScale = 1000;

// Writes ftyp, wide and an open mdat header at offset 0 and sets the movie's
// wideOffset and end.
OSErr writeFileHeader(MovieRecord& movie);

// Serialises the whole moov atom.
void buildMovieAtom(const MovieRecord& movie, ByteWriter& out);

// Appends the moov atom after the media data, then closes the mdat (a 32-bit
// size, or a 64-bit one over the wide atom once past 4 GiB) and trims the file.
// The moov goes first, so a failure leaves an mdat that still runs to the end
// of the file rather than a size pointing into garbage.
OSErr writeMovieResource(MovieRecord& movie);

// A media's duration in the movie's time scale, rounded to nearest.
uint32_t toMovieTime(uint64_t mediaTime, TimeScale mediaScale);

}  // namespace qt
