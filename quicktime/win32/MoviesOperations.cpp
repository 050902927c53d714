// Movies, tracks and media: the movie files the program creates by name and
// refers to by number, and every movie operation handed on to the core.
//
// Each operation records its result for GetMoviesError, including the
// failures found here before the core is reached (an unknown file number, a
// name Windows cannot take), so the code the user is shown is the one of the
// call that failed.
#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "Movies.h"
#include "Operations.h"
#include "Win32Files.h"

namespace qtlib {

namespace {
// EnterMovies calls not yet matched by ExitMovies.
int movieServicesCount = 0;

OSErr lastMoviesError = noErr;

OSErr remember(OSErr err) {
  lastMoviesError = err;
  return err;
}

// Open movie files by reference number. The movie holds the sink too, so a
// movie may outlive its file's number; once the file is closed its sink
// refuses every write.
std::map<int16_t, std::shared_ptr<FileSink>>& openFiles() {
  static auto* files = new std::map<int16_t, std::shared_ptr<FileSink>>;
  return *files;
}

int16_t lastRefNum = 0;

// The next positive number not in use; 0 when all 32767 are.
int16_t newRefNum() {
  auto& files = openFiles();
  for (int tries = 0; tries < 0x7FFF; ++tries) {
    lastRefNum = lastRefNum == 0x7FFF ? 1 : int16_t(lastRefNum + 1);
    if (!files.count(lastRefNum)) return lastRefNum;
  }
  return 0;
}

// The flags this library can honour: replacing a file, and no resource fork
// (it writes none, so asking for one is refused rather than ignored).
constexpr uint32_t kKnownCreateFlags = createMovieFileDeleteCurFile | createMovieFileDontCreateResFile;

// Windows says "access denied" both for a read-only file and for a folder we
// may not write into; the read-only file is the one with its own code.
OSErr openError(DWORD error, const std::string& path) {
  OSErr err = osErrFromWin32(error);
  if (err == permErr) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (attributes & FILE_ATTRIBUTE_READONLY))
      err = wrPermErr;
  }
  return err;
}

OSErr createMovieFile(const FSSpec* spec, int32_t flags, int16_t* refNum, Movie* movie) {
  if (!refNum || !movie) return paramErr;
  *refNum = 0;
  *movie = nullptr;
  if (!spec) return paramErr;
  const uint32_t bits = uint32_t(flags);
  if ((bits & ~kKnownCreateFlags) || !(bits & createMovieFileDontCreateResFile)) return paramErr;
  if (spec->vRefNum != 0 || spec->parID != 0) return paramErr;
  std::string path;
  if (OSErr err = pathFromName(spec->name, &path)) return err;

  const int16_t number = newRefNum();
  if (number == 0) return fBsyErr;  // too many open files
  // Windows refuses to replace a read-only file; asking first gives the same
  // answer where the file system would let its owner write anyway (Wine run
  // by root), so a read-only file is never overwritten.
  const DWORD existing = GetFileAttributesA(path.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) &&
      !(existing & FILE_ATTRIBUTE_DIRECTORY))
    return wrPermErr;
  const DWORD disposition = (bits & createMovieFileDeleteCurFile) ? CREATE_ALWAYS : CREATE_NEW;
  // Writing is shared only so that the sink can flush through a handle of
  // its own; nothing else opens the file while we write it.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE | GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return openError(GetLastError(), path);

  auto sink = std::make_shared<FileSink>(file, path);
  Movie made = nullptr;
  if (OSErr err = qt::CreateMovieInSink(sink, qt::MovieOptions(), &made)) {
    // Nothing of a movie is in the file: leave no empty file behind.
    sink->close();
    DeleteFileA(path.c_str());
    return err;
  }
  openFiles()[number] = sink;
  *refNum = number;
  *movie = made;
  return noErr;
}

}  // namespace

OSErr EnterMovies() {
  // The movie services live inside the library's initialisation.
  if (!libraryInitialized()) return paramErr;
  ++movieServicesCount;
  return noErr;
}

void ExitMovies() {
  if (movieServicesCount > 0) --movieServicesCount;
}

OSErr GetMoviesError() { return lastMoviesError; }

void memoryRanOut() { remember(memFullErr); }

OSErr CreateMovieFile(const FSSpec* spec, OSType, ScriptCode, int32_t flags, int16_t* refNum, Movie* movie) {
  // The creator and script name the file for the Finder; Windows has no
  // place for them.
  return remember(createMovieFile(spec, flags, refNum, movie));
}

OSErr CloseMovieFile(int16_t refNum) {
  auto& files = openFiles();
  auto it = files.find(refNum);
  if (it == files.end()) return remember(rfNumErr);
  std::shared_ptr<FileSink> sink = std::move(it->second);
  files.erase(it);
  // A movie let go of without its movie atom keeps what its fragments hold:
  // its keeper ends, with the fragment on its way in place, before the file
  // closes under it.
  qt::StopMoviesIn(sink.get());
  return remember(sink->close());
}

OSErr AddMovieResource(Movie movie, int16_t refNum, int16_t* resId, ConstStr255Param name) {
  if (!resId) return remember(paramErr);
  auto& files = openFiles();
  auto it = files.find(refNum);
  if (it == files.end()) return remember(rfNumErr);
  return remember(qt::AddMovieResource(movie, it->second.get(), *resId, name));
}

void DisposeMovie(Movie movie) { remember(qt::DisposeMovie(movie)); }

Track NewMovieTrack(Movie movie, Fixed width, Fixed height, int16_t volume) {
  Track track = nullptr;
  remember(qt::NewMovieTrack(movie, width, height, volume, &track));
  return track;
}

Media NewTrackMedia(Track track, OSType mediaType, TimeScale timeScale, Handle dataRef, OSType dataRefType) {
  Media media = nullptr;
  remember(qt::NewTrackMedia(track, mediaType, timeScale, dataRef, dataRefType, &media));
  return media;
}

OSErr BeginMediaEdits(Media media) { return remember(qt::BeginMediaEdits(media)); }

OSErr EndMediaEdits(Media media) { return remember(qt::EndMediaEdits(media)); }

OSErr AddMediaSample(Media media, Handle data, int32_t offset, uint32_t size, TimeValue duration,
                     ImageDescriptionHandle description, int32_t numberOfSamples, int16_t sampleFlags,
                     TimeValue* sampleTime) {
  return remember(qt::AddMediaSample(media, data, offset, size, duration, description, numberOfSamples,
                                     sampleFlags, sampleTime));
}

TimeValue GetMediaDuration(Media media) {
  const TimeValue duration = qt::GetMediaDuration(media);
  remember(qt::GetMoviesError());
  return duration;
}

OSErr InsertMediaIntoTrack(Track track, TimeValue trackStart, TimeValue mediaTime, TimeValue mediaDuration,
                           Fixed mediaRate) {
  return remember(qt::InsertMediaIntoTrack(track, trackStart, mediaTime, mediaDuration, mediaRate));
}

}  // namespace qtlib
