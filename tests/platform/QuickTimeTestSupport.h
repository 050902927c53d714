// Helpers for the tests of the QuickTime loader, call path and environment.
//
// The loader's state is process-wide and some of its states exist only in a
// fresh process, and where it looks for the library depends on the program's
// own folder. So many tests run a test of this same program again as a child
// process, from a folder the parent prepared: such child tests are named
// DISABLED_* (never run on their own) and are started with runChildTest.
#pragma once

#include <windows.h>

#include <string>

#include "testlib/RecordingLibrary.h"

// The folder of this test program, with a trailing backslash. In a child it
// is still the build's bin folder (passed down in the environment), not the
// folder the child's copy runs from.
std::string binFolder();
// The folder of one of the test libraries ("recording", "failing",
// "nodispatcher", "firstonly"), with a trailing backslash, and its file.
std::string testLibraryFolder(const char* name);
std::string testLibraryPath(const char* name);
// Our own QuickTime.qts, built beside the test programs.
std::string ourLibraryPath();

// A fresh empty folder under the temporary folder, removed with its files.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  // With a trailing backslash.
  const std::string& path() const { return path_; }
  // Copies `source` into the folder as `name`; false when that failed.
  bool copyIn(const std::string& source, const char* name) const;

 private:
  std::string path_;
};

// Runs the child test `testName` ("Suite.DISABLED_Name") of this program.
// With a folder, a copy of this program runs from there; without, the
// program runs in place. Returns the
// child's exit code; its output goes into `output`. `variable`, when given,
// is set to `value` in the child's environment.
DWORD runChildTest(const char* testName, const TempFolder* folder, std::string* output,
                   const char* variable = nullptr, const std::string& value = std::string());

// Starts a program with its working folder; returns its process
// information (both handles to be closed by the caller).
bool startProgram(const std::string& exe, const std::string& folder, PROCESS_INFORMATION* process);

// The registry value "QuickTime.qts folder" of the QuickTime key under one
// root. Set by a test, removed when the object goes; removeRegistryFolders
// clears both roots before a test that needs them absent.
class RegistryFolderValue {
 public:
  RegistryFolderValue(HKEY root, DWORD type, const void* data, DWORD size);
  RegistryFolderValue(HKEY root, const std::string& text);
  ~RegistryFolderValue();
  RegistryFolderValue(const RegistryFolderValue&) = delete;
  RegistryFolderValue& operator=(const RegistryFolderValue&) = delete;
  bool ok() const { return ok_; }

 private:
  HKEY root_;
  bool ok_ = false;
};
void removeRegistryFolders();

// The recording library's exports, looked up in a loaded copy.
struct RecordingLibrary {
  explicit RecordingLibrary(HMODULE module);
  bool ok() const {
    return count && call && setNextResult && setLibraryResult && clear && misalignedDispatches;
  }
  RecordedCallCountFunction count = nullptr;
  RecordedCallFunction call = nullptr;
  // What every operation answers, apart from the library's own
  // initialisation and termination, which answer setLibraryResult's (0 until
  // set; the failing library's error for its initialisation).
  SetNextResultFunction setNextResult = nullptr;
  SetNextResultFunction setLibraryResult = nullptr;
  ClearRecordsFunction clear = nullptr;
  MisalignedDispatchCountFunction misalignedDispatches = nullptr;
};

// The library's own initialisations and terminations so far in this process.
long countedInEnvironment(const char* variable);

// True when any module named QuickTime.qts is loaded in this process.
bool anyQuickTimeLibraryLoaded();
