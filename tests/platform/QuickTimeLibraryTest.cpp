// The QuickTime library loader: where it looks, how it binds, counts and
// releases, and what every operation answers in each state.
#include "platform/QuickTimeLibrary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "OperationCalls.h"
#include "QuickTimeTestSupport.h"

namespace {

const char kExpectLibraryVariable[] = "SKELBY_TEST_EXPECT_LIBRARY";

// A path buffer followed by bytes that must stay untouched.
struct GuardedPath {
  LibraryPath path;
  char guard[32];
  GuardedPath() {
    std::memset(path, 'p', sizeof path);
    std::memset(guard, 'g', sizeof guard);
  }
  bool guardIntact() const {
    for (char c : guard) {
      if (c != 'g') return false;
    }
    return true;
  }
};

std::string composed(const char* folder, FolderSeparator rule) {
  GuardedPath out;
  if (!composeLibraryPath(out.path, folder, std::strlen(folder), rule, "QuickTime.qts")) {
    return "(failed)";
  }
  return out.guardIntact() ? std::string(out.path) : "(wrote past the buffer)";
}

void expectUnboundState(HMODULE expectedLibraryHandle) {
  EXPECT_EQ(initCount, 0);
  EXPECT_EQ(libraryHandle, expectedLibraryHandle);
  EXPECT_EQ(dispatcherEntry, notInitializedEntry);
  EXPECT_EQ(callComponentEntry, notInitializedEntry);
  EXPECT_EQ(callComponentWithStorageEntry, notInitializedEntry);
}

}  // namespace

// ---------------------------------------------------------------------------
// Names and paths

TEST(InitTermMutexName, IsThePrefixAndTheProcessIdInLowerCaseHex) {
  char name[kMutexNameCapacity];
  formatInitTermMutexName(name, 420);
  EXPECT_STREQ(name, "QTMLInitTermMutex1a4");
  formatInitTermMutexName(name, 0);
  EXPECT_STREQ(name, "QTMLInitTermMutex0");
  formatInitTermMutexName(name, 0xDEADBEEF);
  EXPECT_STREQ(name, "QTMLInitTermMutexdeadbeef");
}

TEST(LibraryPath, RegistryFolderGetsOneSeparator) {
  EXPECT_EQ(composed("C:\\QT", FolderSeparator::UnlessThere), "C:\\QT\\QuickTime.qts");
  EXPECT_EQ(composed("C:\\QT\\", FolderSeparator::UnlessThere), "C:\\QT\\QuickTime.qts");
  EXPECT_EQ(composed("C:/QT/", FolderSeparator::UnlessThere), "C:/QT/QuickTime.qts");
  EXPECT_EQ(composed("", FolderSeparator::UnlessThere), "\\QuickTime.qts");
  EXPECT_EQ(composed("C:\\QT\\", FolderSeparator::Included), "C:\\QT\\QuickTime.qts");
  EXPECT_EQ(composed("C:\\Windows\\system32", FolderSeparator::Always),
            "C:\\Windows\\system32\\QuickTime.qts");
}

TEST(LibraryPath, PathThatDoesNotFitFailsWithoutWritingPastTheBuffer) {
  // 13 characters of file name, one separator and a terminator: a folder of
  // 245 characters fills the 260 bytes exactly, one more does not fit.
  const std::string fits(245, 'f');
  const std::string tooLong(246, 'f');
  EXPECT_EQ(composed(fits.c_str(), FolderSeparator::Always).size(), 259u);
  EXPECT_EQ(composed(tooLong.c_str(), FolderSeparator::Always), "(failed)");
  EXPECT_EQ(composed(tooLong.c_str(), FolderSeparator::UnlessThere), "(failed)");
  const std::string huge(5000, 'f');
  EXPECT_EQ(composed(huge.c_str(), FolderSeparator::Included), "(failed)");
}

namespace {
const char* fakeFolder = "";
UINT fakeReportedLength = 0;

UINT WINAPI fakeSystemDirectory(LPSTR buffer, UINT size) {
  const size_t length = std::strlen(fakeFolder);
  if (length < size) std::memcpy(buffer, fakeFolder, length + 1);
  return fakeReportedLength ? fakeReportedLength : UINT(length < size ? length : length + 1);
}

DWORD WINAPI fakeModuleFileName(HMODULE, LPSTR buffer, DWORD size) {
  // Like the real call: a path that does not fit is cut to the buffer and
  // the full buffer size answered, without a terminator on older systems.
  const size_t length = std::strlen(fakeFolder);
  if (length < size) {
    std::memcpy(buffer, fakeFolder, length + 1);
    return DWORD(length);
  }
  std::memcpy(buffer, fakeFolder, size);
  return size;
}
}  // namespace

TEST(LibraryPath, SystemDirectoryCandidate) {
  GuardedPath out;
  fakeReportedLength = 0;
  fakeFolder = "C:\\windows\\system32";
  ASSERT_TRUE(systemDirectoryLibraryPath(out.path, "QuickTime.qts", fakeSystemDirectory));
  EXPECT_STREQ(out.path, "C:\\windows\\system32\\QuickTime.qts");

  // A directory too long for the buffer: the reader answers the size it needs.
  const std::string tooLong(300, 'd');
  fakeFolder = tooLong.c_str();
  EXPECT_FALSE(systemDirectoryLibraryPath(out.path, "QuickTime.qts", fakeSystemDirectory));
  // One that fits but leaves no room for the file name.
  const std::string almost(250, 'd');
  fakeFolder = almost.c_str();
  EXPECT_FALSE(systemDirectoryLibraryPath(out.path, "QuickTime.qts", fakeSystemDirectory));
  // A reader that fails.
  fakeFolder = "";
  EXPECT_FALSE(systemDirectoryLibraryPath(out.path, "QuickTime.qts", fakeSystemDirectory));
  EXPECT_TRUE(out.guardIntact());
}

TEST(LibraryPath, ProgramFolderCandidate) {
  GuardedPath out;
  fakeFolder = "C:\\apps\\skelby.exe";
  ASSERT_TRUE(programFolderLibraryPath(out.path, "QuickTime.qts", fakeModuleFileName));
  EXPECT_STREQ(out.path, "C:\\apps\\QuickTime.qts");
  fakeFolder = "C:/apps/skelby.exe";
  ASSERT_TRUE(programFolderLibraryPath(out.path, "QuickTime.qts", fakeModuleFileName));
  EXPECT_STREQ(out.path, "C:/apps/QuickTime.qts");
  fakeFolder = "skelby.exe";  // no separator at all
  EXPECT_FALSE(programFolderLibraryPath(out.path, "QuickTime.qts", fakeModuleFileName));
  const std::string cutShort = "C:\\" + std::string(400, 'a') + "\\skelby.exe";
  fakeFolder = cutShort.c_str();
  EXPECT_FALSE(programFolderLibraryPath(out.path, "QuickTime.qts", fakeModuleFileName));
  fakeFolder = "";
  EXPECT_FALSE(programFolderLibraryPath(out.path, "QuickTime.qts", fakeModuleFileName));
  EXPECT_TRUE(out.guardIntact());
}

// The registry value as the loader reads it, in the user's hive (the same
// code reads the machine's).
TEST(RegistryFolder, ValuesOfEveryShape) {
  removeRegistryFolders();
  GuardedPath folder;
  size_t length = 99;
  EXPECT_FALSE(readRegistryFolder(HKEY_CURRENT_USER, folder.path, &length)) << "no value";
  {
    RegistryFolderValue value(HKEY_CURRENT_USER, "C:\\Program Files\\QuickTime");
    ASSERT_TRUE(value.ok());
    ASSERT_TRUE(readRegistryFolder(HKEY_CURRENT_USER, folder.path, &length));
    EXPECT_EQ(std::string(folder.path, length), "C:\\Program Files\\QuickTime");
  }
  {
    // Not a string, and no terminator: the text is its bytes.
    RegistryFolderValue value(HKEY_CURRENT_USER, REG_BINARY, "C:\\bin", 6);
    ASSERT_TRUE(value.ok());
    ASSERT_TRUE(readRegistryFolder(HKEY_CURRENT_USER, folder.path, &length));
    EXPECT_EQ(std::string(folder.path, length), "C:\\bin");
  }
  {
    const DWORD number = 0x41;  // 'A', then three zero bytes
    RegistryFolderValue value(HKEY_CURRENT_USER, REG_DWORD, &number, sizeof number);
    ASSERT_TRUE(value.ok());
    ASSERT_TRUE(readRegistryFolder(HKEY_CURRENT_USER, folder.path, &length));
    EXPECT_EQ(std::string(folder.path, length), "A");
  }
  {
    RegistryFolderValue value(HKEY_CURRENT_USER, REG_SZ, "", 0);
    ASSERT_TRUE(value.ok());
    ASSERT_TRUE(readRegistryFolder(HKEY_CURRENT_USER, folder.path, &length));
    EXPECT_EQ(length, 0u);
    LibraryPath path;
    ASSERT_TRUE(registryLibraryPath(path, HKEY_CURRENT_USER, "QuickTime.qts"));
    EXPECT_STREQ(path, "\\QuickTime.qts");
  }
  {
    // Fills the buffer with no terminator: read whole, and no path fits.
    const std::string full(kLibraryPathCapacity, 'x');
    RegistryFolderValue value(HKEY_CURRENT_USER, REG_BINARY, full.data(), DWORD(full.size()));
    ASSERT_TRUE(value.ok());
    ASSERT_TRUE(readRegistryFolder(HKEY_CURRENT_USER, folder.path, &length));
    EXPECT_EQ(length, kLibraryPathCapacity);
    LibraryPath path;
    EXPECT_FALSE(registryLibraryPath(path, HKEY_CURRENT_USER, "QuickTime.qts"));
  }
  {
    const std::string longer(400, 'y');
    RegistryFolderValue value(HKEY_CURRENT_USER, longer);
    ASSERT_TRUE(value.ok());
    EXPECT_FALSE(readRegistryFolder(HKEY_CURRENT_USER, folder.path, &length));
  }
  EXPECT_TRUE(folder.guardIntact());
}

// ---------------------------------------------------------------------------
// Child tests: each runs in a process of its own, started by a test below.

TEST(LoaderChild, DISABLED_NoLibraryAnywhere) {
  ASSERT_FALSE(anyQuickTimeLibraryLoaded());
  EXPECT_EQ(preCallHook, bindToLoadedLibrary);
  EXPECT_EQ(InitializeQTML(0), errQtLibraryNotFound);
  expectUnboundState(nullptr);
  EXPECT_EQ(preCallHook, rebindEntryPoints);
  EXPECT_FALSE(anyQuickTimeLibraryLoaded());
  EXPECT_EQ(checkEveryOperationUnbound(), "");
  EXPECT_EQ(GetMoviesError(), errQtNotInitialized);
  // A second attempt fails the same way.
  EXPECT_EQ(InitializeQTML(0), errQtLibraryNotFound);
  expectUnboundState(nullptr);
}

TEST(LoaderChild, DISABLED_FindsExpectedLibrary) {
  char expected[MAX_PATH] = "";
  ASSERT_GT(GetEnvironmentVariableA(kExpectLibraryVariable, expected, sizeof expected), 0u);
  ASSERT_EQ(InitializeQTML(0), noErr);
  EXPECT_EQ(initCount, 1);
  EXPECT_EQ(preCallHook, nullptr);
  // Looked up by its full path: the very file expected, no other copy.
  EXPECT_EQ(libraryHandle, GetModuleHandleA(expected)) << "expected " << expected;
  TerminateQTML();
  EXPECT_FALSE(anyQuickTimeLibraryLoaded());
}

TEST(LoaderChild, DISABLED_MissingEntryPoint) {
  EXPECT_EQ(InitializeQTML(0), errQtEntryPointMissing);
  expectUnboundState(nullptr);
  EXPECT_EQ(preCallHook, rebindEntryPoints);
  EXPECT_FALSE(anyQuickTimeLibraryLoaded()) << "the library must be released again";
  EXPECT_EQ(checkEveryOperationUnbound(), "");
}

TEST(LoaderChild, DISABLED_OwnInitializationFails) {
  EXPECT_EQ(InitializeQTML(0), kFailingInitializationResult);
  expectUnboundState(nullptr);
  EXPECT_FALSE(anyQuickTimeLibraryLoaded());
  EXPECT_EQ(countedInEnvironment(kInitializationsVariable), 1);
  EXPECT_EQ(countedInEnvironment(kTerminationsVariable), 0) << "no termination after a failed start";
  EXPECT_EQ(checkEveryOperationUnbound(), "");
}

// The library lies in the program's folder and nobody else holds it.
TEST(LoaderChild, DISABLED_CountsInitializationsAndTerminatesOnce) {
  const int32_t flags = 0x13572468;
  ASSERT_EQ(InitializeQTML(flags), noErr);
  const HMODULE library = libraryHandle;
  RecordingLibrary recording(library);
  ASSERT_TRUE(recording.ok());
  ASSERT_EQ(recording.count(), 1);
  EXPECT_EQ(recording.call(0)->selector, 0x001D0008u);
  EXPECT_EQ(int32_t(recording.call(0)->slots[0]), flags) << "flags handed on unchanged";

  ASSERT_EQ(InitializeQTML(0), noErr);
  EXPECT_EQ(initCount, 2);
  EXPECT_EQ(countedInEnvironment(kInitializationsVariable), 1) << "the second one only counts";

  TerminateQTML();
  EXPECT_EQ(initCount, 1);
  EXPECT_EQ(countedInEnvironment(kTerminationsVariable), 0);
  EXPECT_EQ(recording.count(), 1) << "nothing reached the library";
  EXPECT_TRUE(anyQuickTimeLibraryLoaded());

  TerminateQTML();
  EXPECT_EQ(countedInEnvironment(kTerminationsVariable), 1);
  EXPECT_EQ(preCallHook, rebindEntryPoints);
  expectUnboundState(library);  // still names the library last held
  EXPECT_FALSE(anyQuickTimeLibraryLoaded()) << "released: nobody else held it";
  EXPECT_EQ(checkEveryOperationUnbound(), "");

  // More terminations than initialisations change nothing.
  TerminateQTML();
  EXPECT_EQ(initCount, 0);
  EXPECT_EQ(countedInEnvironment(kTerminationsVariable), 1);
}

TEST(LoaderChild, DISABLED_TerminateWithoutInitializationCallsNothing) {
  const HMODULE held = LoadLibraryA(testLibraryPath("recording").c_str());
  ASSERT_NE(held, nullptr);
  RecordingLibrary recording(held);
  ASSERT_TRUE(recording.ok());
  TerminateQTML();
  EXPECT_EQ(initCount, 0);
  EXPECT_EQ(recording.count(), 0);
  EXPECT_EQ(countedInEnvironment(kTerminationsVariable), 0);
  initCount = -3;  // a count gone wrong is put right, and still nothing is called
  TerminateQTML();
  EXPECT_EQ(initCount, 0);
  EXPECT_EQ(recording.count(), 0);
  EXPECT_EQ(GetModuleHandleA(testLibraryPath("recording").c_str()), held) << "reference kept";
  FreeLibrary(held);
}

// Runs in place: a copy of our own library lies in the program's folder.
TEST(LoaderChild, DISABLED_PrefersLibraryAlreadyLoaded) {
  const HMODULE held = LoadLibraryA(testLibraryPath("recording").c_str());
  ASSERT_NE(held, nullptr);
  ASSERT_EQ(InitializeQTML(0), noErr);
  EXPECT_EQ(libraryHandle, held);
  EXPECT_EQ(GetModuleHandleA(ourLibraryPath().c_str()), nullptr)
      << "the copy in the program's folder must not be loaded";
  TerminateQTML();
  EXPECT_EQ(countedInEnvironment(kTerminationsVariable), 1);
  // Our own reference keeps it loaded: the next call binds to it again.
  EXPECT_EQ(GetModuleHandleA(testLibraryPath("recording").c_str()), held);
  FreeLibrary(held);
}

// The library stays loaded through the test's own reference after the last
// termination: the next call rebinds to it and arrives with its arguments.
TEST(LoaderChild, DISABLED_RebindsToLibraryHeldElsewhere) {
  const HMODULE held = LoadLibraryA(testLibraryPath("recording").c_str());
  ASSERT_NE(held, nullptr);
  RecordingLibrary recording(held);
  ASSERT_TRUE(recording.ok());
  ASSERT_EQ(InitializeQTML(0), noErr);
  TerminateQTML();
  ASSERT_EQ(preCallHook, rebindEntryPoints);
  EXPECT_EQ(checkRoundTrip(&AddMediaSample, 0x0002007C, "AddMediaSample", recording), "");
  EXPECT_EQ(preCallHook, nullptr);
  EXPECT_EQ(initCount, 0);
  EXPECT_EQ(checkEveryOperationRoundTrip(recording), "");
  FreeLibrary(held);
}

// Never initialised, with the library loaded by someone else: the first call
// binds to it, and the hook keeps no reference.
TEST(LoaderChild, DISABLED_BindsToLoadedLibraryOnFirstCall) {
  const HMODULE held = LoadLibraryA(testLibraryPath("recording").c_str());
  ASSERT_NE(held, nullptr);
  RecordingLibrary recording(held);
  ASSERT_TRUE(recording.ok());
  ASSERT_EQ(preCallHook, bindToLoadedLibrary);
  EXPECT_EQ(checkRoundTrip(&CreateMovieFile, 0x00020191, "CreateMovieFile", recording), "");
  EXPECT_EQ(preCallHook, nullptr);
  EXPECT_EQ(libraryHandle, nullptr);
  EXPECT_EQ(initCount, 0);
  FreeLibrary(held);
  EXPECT_FALSE(anyQuickTimeLibraryLoaded()) << "the hook must not keep a reference";
}

// Never initialised and nobody holds the library, which lies in the
// program's folder: the hook must not leave entries into a library it
// unloaded again.
TEST(LoaderChild, DISABLED_HookWithoutOtherHolderStaysUnbound) {
  ASSERT_FALSE(anyQuickTimeLibraryLoaded());
  EXPECT_EQ(GetMoviesError(), errQtNotInitialized);
  EXPECT_EQ(NewHandle(16), nullptr);
  EXPECT_FALSE(anyQuickTimeLibraryLoaded());
  EXPECT_EQ(preCallHook, bindToLoadedLibrary);
  expectUnboundState(nullptr);
}

// Initialisation waits for the per-process mutex.
namespace {
DWORD WINAPI initializeOnThread(void* result) {
  *static_cast<OSErr*>(result) = InitializeQTML(0);
  return 0;
}
}  // namespace

TEST(LoaderChild, DISABLED_InitializationTakesTheProcessMutex) {
  const HMODULE held = LoadLibraryA(testLibraryPath("recording").c_str());
  ASSERT_NE(held, nullptr);
  char name[kMutexNameCapacity];
  formatInitTermMutexName(name, GetCurrentProcessId());
  HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
  ASSERT_NE(mutex, nullptr);
  OSErr result = 1;
  HANDLE thread = CreateThread(nullptr, 0, initializeOnThread, &result, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 300), DWORD(WAIT_TIMEOUT)) << "ran despite the mutex";
  EXPECT_EQ(countedInEnvironment(kInitializationsVariable), 0);
  ReleaseMutex(mutex);
  EXPECT_EQ(WaitForSingleObject(thread, 10000), DWORD(WAIT_OBJECT_0));
  EXPECT_EQ(result, noErr);
  EXPECT_EQ(countedInEnvironment(kInitializationsVariable), 1);
  CloseHandle(thread);
  CloseHandle(mutex);
  TerminateQTML();
  FreeLibrary(held);
}

// ---------------------------------------------------------------------------
// The parents. They change the registry of the test prefix, so ctest runs
// them under one lock with every other test that depends on it.

namespace {

void expectChildPasses(const char* test, const TempFolder* folder, const char* variable = nullptr,
                       const std::string& value = std::string()) {
  std::string output;
  EXPECT_EQ(runChildTest(test, folder, &output, variable, value), 0u) << output;
}

}  // namespace

TEST(Loader, NoLibraryAnywhereAndBadRegistryValues) {
  removeRegistryFolders();
  {
    SCOPED_TRACE("nothing in the registry");
    TempFolder folder;
    expectChildPasses("LoaderChild.DISABLED_NoLibraryAnywhere", &folder);
  }
  {
    SCOPED_TRACE("values that are not strings");
    const DWORD number = 0x41;
    RegistryFolderValue machine(HKEY_LOCAL_MACHINE, REG_DWORD, &number, sizeof number);
    RegistryFolderValue user(HKEY_CURRENT_USER, REG_BINARY, "abc", 3);
    ASSERT_TRUE(machine.ok() && user.ok());
    TempFolder folder;
    expectChildPasses("LoaderChild.DISABLED_NoLibraryAnywhere", &folder);
  }
  {
    SCOPED_TRACE("empty values");
    RegistryFolderValue machine(HKEY_LOCAL_MACHINE, REG_SZ, "", 0);
    RegistryFolderValue user(HKEY_CURRENT_USER, std::string());
    ASSERT_TRUE(machine.ok() && user.ok());
    TempFolder folder;
    expectChildPasses("LoaderChild.DISABLED_NoLibraryAnywhere", &folder);
  }
  {
    SCOPED_TRACE("values filling the buffer without a terminator, and longer ones");
    const std::string full(kLibraryPathCapacity, 'x');
    RegistryFolderValue machine(HKEY_LOCAL_MACHINE, REG_SZ, full.data(), DWORD(full.size()));
    RegistryFolderValue user(HKEY_CURRENT_USER, std::string(600, 'y'));
    ASSERT_TRUE(machine.ok() && user.ok());
    TempFolder folder;
    expectChildPasses("LoaderChild.DISABLED_NoLibraryAnywhere", &folder);
  }
}

TEST(Loader, FindsLibraryInProgramFolder) {
  removeRegistryFolders();
  TempFolder folder;
  ASSERT_TRUE(folder.copyIn(testLibraryPath("recording"), "QuickTime.qts"));
  expectChildPasses("LoaderChild.DISABLED_FindsExpectedLibrary", &folder, kExpectLibraryVariable,
                    folder.path() + "QuickTime.qts");
  expectChildPasses("LoaderChild.DISABLED_CountsInitializationsAndTerminatesOnce", &folder);
  expectChildPasses("LoaderChild.DISABLED_HookWithoutOtherHolderStaysUnbound", &folder);
}

TEST(Loader, FindsLibraryThroughRegistryFolders) {
  removeRegistryFolders();
  std::string recording = testLibraryFolder("recording");  // ends in a backslash
  recording.pop_back();
  const std::string expected = recording + "\\QuickTime.qts";
  const std::string forms[] = {recording, recording + "\\", recording + "/"};
  for (const std::string& form : forms) {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
      SCOPED_TRACE((root == HKEY_LOCAL_MACHINE ? "machine: " : "user: ") + form);
      RegistryFolderValue value(root, form);
      ASSERT_TRUE(value.ok());
      TempFolder folder;
      expectChildPasses("LoaderChild.DISABLED_FindsExpectedLibrary", &folder, kExpectLibraryVariable,
                        expected);
    }
  }
  {
    SCOPED_TRACE("the machine's folder comes before the user's");
    std::string failing = testLibraryFolder("failing");
    RegistryFolderValue machine(HKEY_LOCAL_MACHINE, recording);
    RegistryFolderValue user(HKEY_CURRENT_USER, failing);
    TempFolder folder;
    expectChildPasses("LoaderChild.DISABLED_FindsExpectedLibrary", &folder, kExpectLibraryVariable, expected);
  }
}

TEST(Loader, LibraryMissingEntryPointsIsReleased) {
  removeRegistryFolders();
  for (const char* library : {"nodispatcher", "firstonly"}) {
    SCOPED_TRACE(library);
    RegistryFolderValue user(HKEY_CURRENT_USER, testLibraryFolder(library));
    TempFolder folder;
    expectChildPasses("LoaderChild.DISABLED_MissingEntryPoint", &folder);
  }
}

TEST(Loader, LibraryOwnInitializationErrorPassesThrough) {
  removeRegistryFolders();
  RegistryFolderValue user(HKEY_CURRENT_USER, testLibraryFolder("failing"));
  TempFolder folder;
  expectChildPasses("LoaderChild.DISABLED_OwnInitializationFails", &folder);
}

TEST(Loader, SystemDirectoryIsTheLastCandidate) {
  removeRegistryFolders();
  char system[MAX_PATH] = "";
  ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 0u);
  const std::string placed = std::string(system) + "\\QuickTime.qts";
  ASSERT_TRUE(CopyFileA(testLibraryPath("recording").c_str(), placed.c_str(), TRUE))
      << "a QuickTime.qts already lies in the system directory";
  {
    TempFolder folder;
    expectChildPasses("LoaderChild.DISABLED_FindsExpectedLibrary", &folder, kExpectLibraryVariable, placed);
  }
  EXPECT_TRUE(DeleteFileA(placed.c_str()));
}

TEST(Loader, CountingTerminationAndHooksInPlace) {
  expectChildPasses("LoaderChild.DISABLED_TerminateWithoutInitializationCallsNothing", nullptr);
  expectChildPasses("LoaderChild.DISABLED_PrefersLibraryAlreadyLoaded", nullptr);
  expectChildPasses("LoaderChild.DISABLED_RebindsToLibraryHeldElsewhere", nullptr);
  expectChildPasses("LoaderChild.DISABLED_BindsToLoadedLibraryOnFirstCall", nullptr);
  expectChildPasses("LoaderChild.DISABLED_InitializationTakesTheProcessMutex", nullptr);
}
