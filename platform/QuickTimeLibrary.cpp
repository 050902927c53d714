#include "platform/QuickTimeLibrary.h"

#include <cstring>

#include "QuickTimeOperations.h"
#include "platform/QuickTimeServices.h"

QuickTimePreCallHook preCallHook = bindToLoadedLibrary;
QuickTimeEntryPoint dispatcherEntry = notInitializedEntry;
QuickTimeEntryPoint callComponentEntry = notInitializedEntry;
QuickTimeEntryPoint callComponentWithStorageEntry = notInitializedEntry;
HMODULE libraryHandle = nullptr;
int32_t initCount = 0;

namespace {

const char kRegistryKey[] = "Software\\Apple Computer, Inc.\\QuickTime";
const char kRegistryValue[] = "QuickTime.qts folder";

void resetEntryPoints() {
  dispatcherEntry = notInitializedEntry;
  callComponentEntry = notInitializedEntry;
  callComponentWithStorageEntry = notInitializedEntry;
}

// Holds the per-process named mutex that keeps the library's own
// initialisation and termination from running at once in two modules of this
// process. When the mutex cannot be had the work runs without it, as the
// library's own loader always did.
class InitTermLock {
 public:
  InitTermLock() {
    char name[kMutexNameCapacity];
    formatInitTermMutexName(name, GetCurrentProcessId());
    mutex_ = CreateMutexA(nullptr, FALSE, name);
    if (!mutex_) return;
    const DWORD wait = WaitForSingleObject(mutex_, INFINITE);
    // An abandoned mutex is still ours now; a failed wait is not, and must
    // not be released.
    owned_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }
  ~InitTermLock() {
    if (owned_) ReleaseMutex(mutex_);
    if (mutex_) CloseHandle(mutex_);
  }
  InitTermLock(const InitTermLock&) = delete;
  InitTermLock& operator=(const InitTermLock&) = delete;

 private:
  HANDLE mutex_ = nullptr;
  bool owned_ = false;
};

HMODULE loadIfComposed(bool composed, const LibraryPath& path) {
  return composed ? LoadLibraryA(path) : nullptr;
}

OSErr bindAndInitialize(int32_t flags) {
  libraryHandle = locateLibrary(kQuickTimeLibraryFileName);
  if (!libraryHandle) return errQtLibraryNotFound;
  if (!lookUpEntryPoints()) return errQtEntryPointMissing;
  preCallHook = nullptr;
  const OSErr own = InitializeQTMLLibrary(flags);
  if (own != noErr) return own;
  ++initCount;
  return noErr;
}

// Back to the unbound state after a failed initialisation. The library's own
// termination is not called: its initialisation did not succeed, or never ran.
void unbindAfterFailure() {
  if (libraryHandle) {
    FreeLibrary(libraryHandle);
    libraryHandle = nullptr;
  }
  preCallHook = rebindEntryPoints;
  resetEntryPoints();
}

}  // namespace

extern "C" intptr_t notInitializedResult(uint32_t selector) {
  switch (selector) {
#define SKELBY_NOT_INITIALIZED_CASE(group, routine, name, kind, result, params) \
  case quickTimeSelector(group, routine):                                       \
    return QuickTimeResultKind::kind == QuickTimeResultKind::ErrorCode ? errQtNotInitialized : 0;
    QUICKTIME_OPERATIONS(SKELBY_NOT_INITIALIZED_CASE)
#undef SKELBY_NOT_INITIALIZED_CASE
  }
  // Only the entries of the table come here.
  return errQtNotInitialized;
}

void formatInitTermMutexName(char (&name)[kMutexNameCapacity], DWORD processId) {
  wsprintfA(name, "QTMLInitTermMutex%lx", static_cast<unsigned long>(processId));
}

bool composeLibraryPath(LibraryPath& path, const char* folder, size_t folderLength, FolderSeparator rule,
                        const char* fileName) {
  bool separator = false;
  if (rule == FolderSeparator::Always) {
    separator = true;
  } else if (rule == FolderSeparator::UnlessThere) {
    const char last = folderLength ? folder[folderLength - 1] : '\0';
    separator = last != '\\' && last != '/';
  }
  const size_t nameLength = std::strlen(fileName);
  const size_t length = folderLength + (separator ? 1 : 0) + nameLength;
  if (length >= kLibraryPathCapacity) return false;
  std::memmove(path, folder, folderLength);
  size_t at = folderLength;
  if (separator) path[at++] = '\\';
  std::memcpy(path + at, fileName, nameLength + 1);
  return true;
}

bool programFolderLibraryPath(LibraryPath& path, const char* fileName,
                              ModuleFileNameReader readModuleFileName) {
  const DWORD length = readModuleFileName(nullptr, path, kLibraryPathCapacity);
  // A full buffer means the path was cut short (and may lack its terminator).
  if (length == 0 || length >= kLibraryPathCapacity) return false;
  size_t folderLength = length;
  while (folderLength > 0 && path[folderLength - 1] != '\\' && path[folderLength - 1] != '/') {
    --folderLength;
  }
  if (folderLength == 0) return false;
  return composeLibraryPath(path, path, folderLength, FolderSeparator::Included, fileName);
}

bool readRegistryFolder(HKEY root, LibraryPath& folder, size_t* length) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, kRegistryKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD size = kLibraryPathCapacity;
  const LONG status =
      RegQueryValueExA(key, kRegistryValue, nullptr, nullptr, reinterpret_cast<BYTE*>(folder), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || size > kLibraryPathCapacity) return false;
  // The value need not be a string, nor carry a terminator: the text ends at
  // its first zero byte or at the end of the data, whichever comes first.
  *length = strnlen(folder, size);
  return true;
}

bool registryLibraryPath(LibraryPath& path, HKEY root, const char* fileName) {
  LibraryPath folder;
  size_t length = 0;
  if (!readRegistryFolder(root, folder, &length)) return false;
  return composeLibraryPath(path, folder, length, FolderSeparator::UnlessThere, fileName);
}

bool systemDirectoryLibraryPath(LibraryPath& path, const char* fileName,
                                SystemDirectoryReader readSystemDirectory) {
  // The reader answers the size it would need when the buffer is too small.
  const UINT length = readSystemDirectory(path, kLibraryPathCapacity);
  if (length == 0 || length >= kLibraryPathCapacity) return false;
  return composeLibraryPath(path, path, length, FolderSeparator::Always, fileName);
}

bool isQuickTimeLibraryLoaded(HMODULE module) {
  if (!module) return false;
  HMODULE found = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(module), &found) ||
      found != module) {
    return false;
  }
  // Another module may since have been mapped where the library was.
  LibraryPath path;
  const DWORD length = GetModuleFileNameA(module, path, kLibraryPathCapacity);
  if (length == 0 || length >= kLibraryPathCapacity) return false;
  const char* name = path + length;
  while (name > path && name[-1] != '\\' && name[-1] != '/') --name;
  return lstrcmpiA(name, kQuickTimeLibraryFileName) == 0;
}

HMODULE locateLibrary(const char* fileName) {
  if (!fileName) return nullptr;
  LibraryPath path;
  if (HMODULE loaded = GetModuleHandleA(fileName)) {
    const DWORD length = GetModuleFileNameA(loaded, path, kLibraryPathCapacity);
    // The module already there wins over every other copy, even when loading
    // it by its path fails.
    if (length > 0 && length < kLibraryPathCapacity) return LoadLibraryA(path);
  }
  if (HMODULE m = loadIfComposed(programFolderLibraryPath(path, fileName), path)) return m;
  if (HMODULE m = loadIfComposed(registryLibraryPath(path, HKEY_LOCAL_MACHINE, fileName), path)) {
    return m;
  }
  if (HMODULE m = loadIfComposed(registryLibraryPath(path, HKEY_CURRENT_USER, fileName), path)) {
    return m;
  }
  return loadIfComposed(systemDirectoryLibraryPath(path, fileName), path);
}

bool lookUpEntryPoints() {
  if (!libraryHandle) return false;
  FARPROC entry = GetProcAddress(libraryHandle, kCallComponentWithStorageExport);
  if (!entry) return false;
  callComponentWithStorageEntry = reinterpret_cast<QuickTimeEntryPoint>(entry);
  entry = GetProcAddress(libraryHandle, kCallComponentExport);
  if (!entry) return false;
  callComponentEntry = reinterpret_cast<QuickTimeEntryPoint>(entry);
  entry = GetProcAddress(libraryHandle, kDispatcherExport);
  if (!entry) return false;
  dispatcherEntry = reinterpret_cast<QuickTimeEntryPoint>(entry);
  return true;
}

OSErr InitializeQTML(int32_t flags) {
  InitTermLock lock;
  if (initCount > 0) {
    ++initCount;
    return noErr;
  }
  const OSErr result = bindAndInitialize(flags);
  if (result != noErr) unbindAfterFailure();
  return result;
}

void TerminateQTML() {
  InitTermLock lock;
  if (initCount <= 0) {
    initCount = 0;
    return;
  }
  if (--initCount > 0) return;
  // Still bound: this call reaches the library's dispatcher.
  TerminateQTMLLibrary();
  preCallHook = rebindEntryPoints;
  resetEntryPoints();
  FreeLibrary(libraryHandle);
}

void bindToLoadedLibrary() {
  bool obtainedHere = false;
  if (!libraryHandle) {
    libraryHandle = locateLibrary(kQuickTimeLibraryFileName);
    if (!libraryHandle) return;
    obtainedHere = true;
  }
  if (lookUpEntryPoints()) {
    preCallHook = nullptr;
  } else {
    // A partly bound library must leave no entry behind that outlives it.
    resetEntryPoints();
  }
  if (!obtainedHere) return;
  const HMODULE held = libraryHandle;
  FreeLibrary(held);
  libraryHandle = nullptr;
  // The hook holds no reference. When nobody else held the library either,
  // releasing it unloaded it, and the entries just bound point nowhere: go
  // back to the placeholder and try again on the next call.
  if (!isQuickTimeLibraryLoaded(held)) {
    resetEntryPoints();
    preCallHook = bindToLoadedLibrary;
  }
}

void rebindEntryPoints() {
  // Only a library some other holder keeps loaded; this takes no reference.
  if (!isQuickTimeLibraryLoaded(libraryHandle)) return;
  if (lookUpEntryPoints()) {
    preCallHook = nullptr;
  } else {
    resetEntryPoints();
  }
}
