// Finds, loads, binds, initialises and releases the QuickTime library
// ("QuickTime.qts"), which the program loads at run time and never links.
//
// Every QuickTime operation of QuickTimeServices.h is an entry that runs
// preCallHook (when set) and then jumps to dispatcherEntry. Until a library
// is bound that slot holds notInitializedEntry, so a caller always gets an
// ordinary QuickTime error code (-2095) rather than a missing function.
//
// States (hook / entry slots / libraryHandle / initCount):
//   loaded, never initialised  bindToLoadedLibrary / notInitializedEntry / none / 0
//   initialised                none / the library's / the library, one reference / >= 1
//   initialisation failed      rebindEntryPoints / notInitializedEntry / none / 0
//   terminated                 rebindEntryPoints / notInitializedEntry / last library, no reference / 0
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "QuickTimeTypes.h"

// An entry point of the library: called only from the assembly entries, with
// the selector in eax/rax and the caller's arguments where the caller put
// them, so it has no C signature.
typedef void (*QuickTimeEntryPoint)();
typedef void (*QuickTimePreCallHook)();

enum : OSErr {
  errQtLibraryNotFound = -2093,    // InitializeQTML found no loadable library file
  errQtEntryPointMissing = -2094,  // the library lacks one of the three exports
  errQtNotInitialized = -2095,     // an operation ran while no library was bound
};

// Read by the assembly entries on every call, hence C names.
extern "C" {
extern QuickTimePreCallHook preCallHook;
extern QuickTimeEntryPoint dispatcherEntry;
extern QuickTimeEntryPoint callComponentEntry;
extern QuickTimeEntryPoint callComponentWithStorageEntry;

// The placeholder target: answers errQtNotInitialized for operations that
// return an error code and 0 (null) for the others. Assembly; it passes the
// selector on to notInitializedResult.
void notInitializedEntry();
intptr_t notInitializedResult(uint32_t selector);
}

// The library loaded by InitializeQTML. After the last TerminateQTML it still
// names the library last held, without holding a reference to it.
extern HMODULE libraryHandle;
// Successful initialisations not yet matched by a termination.
extern int32_t initCount;

// Loads the library and runs its own initialisation with `flags`, or, when it
// is already initialised, only counts. 0 on success, errQtLibraryNotFound,
// errQtEntryPointMissing or the library's own initialisation error; on
// failure no library stays loaded and every operation answers -2095.
OSErr InitializeQTML(int32_t flags);
// Matches one successful InitializeQTML; the last one runs the library's own
// termination and releases it. Without a matching initialisation it does
// nothing.
void TerminateQTML();

// Finds and loads the named library: an already loaded module of that name,
// then the program's folder, the folder in the machine's and then the user's
// registry, then the system directory. Returns a new reference, or null.
HMODULE locateLibrary(const char* fileName);

// Binds the three entry slots to the exports of libraryHandle, one by one in
// a fixed order, stopping at the first one missing; true when all three were
// found. Callers reset the slots when it fails.
bool lookUpEntryPoints();
// The pre-call hooks: bind lazily to a library another holder has loaded.
void bindToLoadedLibrary();
void rebindEntryPoints();

// ---------------------------------------------------------------------------
// The pieces of the loader that tests reach directly.

constexpr size_t kLibraryPathCapacity = 260;
constexpr size_t kMutexNameCapacity = 256;
typedef char LibraryPath[kLibraryPathCapacity];

// "QTMLInitTermMutex" and the process id in lower-case hexadecimal.
void formatInitTermMutexName(char (&name)[kMutexNameCapacity], DWORD processId);

enum class FolderSeparator {
  Included,     // the folder text already ends with its separator
  UnlessThere,  // add a backslash unless it ends in a backslash or a slash
  Always,       // add a backslash whatever it ends in
};
// path = folder (its first folderLength bytes; may lie in `path` itself),
// the separator the rule asks for, fileName. False, with `path` left
// undefined, when the result and its terminator do not fit.
bool composeLibraryPath(LibraryPath& path, const char* folder, size_t folderLength, FolderSeparator rule,
                        const char* fileName);

typedef DWORD(WINAPI* ModuleFileNameReader)(HMODULE, LPSTR, DWORD);
typedef UINT(WINAPI* SystemDirectoryReader)(LPSTR, UINT);

// The candidates' paths. Each is false when its folder cannot be read or the
// whole path does not fit in kLibraryPathCapacity bytes.
bool programFolderLibraryPath(LibraryPath& path, const char* fileName,
                              ModuleFileNameReader readModuleFileName = GetModuleFileNameA);
bool registryLibraryPath(LibraryPath& path, HKEY root, const char* fileName);
bool systemDirectoryLibraryPath(LibraryPath& path, const char* fileName,
                                SystemDirectoryReader readSystemDirectory = GetSystemDirectoryA);

// The value "QuickTime.qts folder" of "Software\Apple Computer, Inc.\QuickTime"
// under `root`, whatever its registry type, as text of *length bytes (no
// terminator needed: a value filling the whole buffer gives 260). False when
// the key or value cannot be read or does not fit in the buffer.
bool readRegistryFolder(HKEY root, LibraryPath& folder, size_t* length);

// True while `module` is still loaded in the process and is a QuickTime
// library (its file is named kQuickTimeLibraryFileName); takes no reference.
bool isQuickTimeLibraryLoaded(HMODULE module);
