// Keeps a movie file readable while its samples arrive, at a cost per second
// that does not grow with the recording, and turns it into an ordinary movie
// at the end.
//
// About once a second the samples written since the last time get a movie
// fragment: the first time a movie atom with 'mvex' describing them, later a
// 'moof' that points back at them. The fragment and a new open region are
// written at the end of the file, inside the open region, which readers
// skip; once they are on the disk, an 8-byte patch turns that region into
// an mdat of its size and so reveals them (a reader that meets half a
// 'moof' refuses the whole file), and one more flush makes the patch stay. A fragment therefore never
// rewrites what came before it: a kill or a power cut after the last flush
// loses at most the samples of the last second.
//
// The movie's own thread (the keeper) closes fragments on time, also when no
// sample comes; without it (tests, or a thread that could not be started)
// the recording thread does the same work before each sample.
#pragma once

#include <cstdint>
#include <mutex>

#include "MovieModel.h"
#include "QuickTimeTypes.h"

namespace qt {

// How long a sample may wait for the fragment that covers it.
constexpr uint64_t kFragmentInterval = 1000;  // ms

// Writes the file header (with the movie atom, a placeholder track and
// 'mvex', that makes the file a whole movie before its first sample, when
// fragments are on) and, with `thread`, starts the keeper.
OSErr startMovieFile(MovieRecord& movie, bool thread);

// Under the lock, before a sample of `size` bytes goes at `movie.end`: hands
// over the keeper's failure, if any (once), does the keeper's work when
// there is no keeper, and closes the open mdat first when the sample would
// take its offsets past 31 bits. On failure the sample must not be added.
OSErr prepareSample(MovieRecord& movie, std::unique_lock<std::mutex>& lock, uint32_t size);

// Under the lock, after a sample was added to `media`: the next fragment
// is due a second after the first sample it will cover.
void sampleAdded(MovieRecord& movie, const MediaRecord& media);

// One turn of the keeper: takes the fragment on its way as far towards the
// disk as it goes, then writes the next one when it is due (or `force`d) and
// takes that as far. Called with the lock held; lets go of it while the
// sink flushes. A failed step is tried again at a later turn.
OSErr keepReadable(MovieRecord& movie, std::unique_lock<std::mutex>& lock, bool force);

// Ends the keeper thread, after the flush it is in: a fragment on its way
// may be left half revealed, as a crash would leave it, for the movie's end
// or `completeFragment` to take further. Called without the lock.
void stopKeeper(MovieRecord& movie);

// Under the lock, with the keeper stopped: takes the fragment on its way to
// the disk all the way, so that a file closed without its movie atom shows
// every fragment written.
OSErr completeFragment(MovieRecord& movie, std::unique_lock<std::mutex>& lock);

// Under the lock, with the keeper stopped: writes the finished movie atom
// after the last sample, flushes it, then makes the first mdat span every
// byte before it with one write inside the file's first sector, and flushes
// again. Nothing in the movie's record changes before that succeeded, so it
// can be called again after a failure. Lets go of the lock while flushing.
OSErr writeMovieResource(MovieRecord& movie, std::unique_lock<std::mutex>& lock);

}  // namespace qt
