// The bytes of a QuickTime movie file laid out the classic way: media data
// first, written as samples arrive, and the movie atom after it.
//
//   ftyp 'qt  '      20 bytes
//   wide              8 bytes
//   mdat              8-byte header, then the samples
//   moov             appended by writeMovieResource
//
// While samples arrive the file is kept playable: at checkpoints a complete
// movie atom for every sample so far goes after the samples and a new mdat
// follows it for the samples to come, so a recording cut short by a crash
// reads as everything up to its last checkpoint:
//
//   ftyp wide mdat free mdat free mdat moov(live) mdat(open, to the end)
//
// Superseded movie atoms become 'free' atoms; a finished file has one moov,
// after the last mdat.
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
// wideOffset, segment and end.
OSErr writeFileHeader(MovieRecord& movie);

// Serialises the whole moov atom. A checkpoint's shows each track that has no
// edit yet with its whole media, as the finished movie will.
void buildMovieAtom(const MovieRecord& movie, ByteWriter& out, bool checkpoint = false);

// Writes a checkpoint if one is due before a sample of `nextSampleSize`
// bytes, and starts settling it: the first as soon as there is a sample, then
// at most once a second of movie time, once the last has settled, while the
// checkpoints' overhead stays within its budget; and always before an mdat
// would outgrow a 32-bit size. On failure the movie's record is as it was,
// unless the atom is already written, in which case only the settling is
// left (settleCheckpoint, before the next write).
OSErr checkpointIfDue(MovieRecord& movie, uint32_t nextSampleSize);

// Takes the last checkpoint as far towards the disk as it can go: its atom
// flushed, the one before freed, that flushed. Without `wait` it returns as
// soon as a flush runs in the background, to go on at the next call; noErr
// at once when there is nothing to settle.
OSErr settleCheckpoint(MovieRecord& movie, bool wait);

// Settles the last checkpoint, appends the final moov atom after the media
// data, closes the mdat in front of it, frees the last checkpoint's atom and
// trims the file. The record changes only once all of it succeeded, so it
// can be retried.
OSErr writeMovieResource(MovieRecord& movie);

// A media's duration in the movie's time scale, rounded to nearest.
uint32_t toMovieTime(uint64_t mediaTime, TimeScale mediaScale);

}  // namespace qt
