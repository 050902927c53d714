// Our QuickTime.qts as the program meets it: found in the program's folder,
// bound through its three exports, initialised, and answering every
// operation of the table through its dispatcher.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "QuickTimeOperations.h"
#include "platform/QuickTimeLibrary.h"
#include "platform/QuickTimeServices.h"

namespace {

std::string programFolder() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder = path;
  return folder.substr(0, folder.find_last_of("\\/") + 1);
}

std::set<std::string> exportedNames(HMODULE module) {
  std::set<std::string> names;
  const auto* base = reinterpret_cast<const unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (!entry.VirtualAddress) return names;
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
  const auto* nameOffsets = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    names.insert(reinterpret_cast<const char*>(base + nameOffsets[i]));
  }
  return names;
}

}  // namespace

TEST(QuickTimeDll, ExportsExactlyTheThreeEntryPoints) {
  const HMODULE library = LoadLibraryA((programFolder() + "QuickTime.qts").c_str());
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(exportedNames(library), (std::set<std::string>{"theQuickTimeDispatcher", "_CallComponent",
                                                           "_CallComponentFunctionWithStorage"}));
  FreeLibrary(library);
}

TEST(QuickTimeDll, FoundBesideTheProgramAndStartsItsMovieServices) {
  ASSERT_EQ(InitializeQTML(0), noErr);
  EXPECT_EQ(libraryHandle, GetModuleHandleA((programFolder() + "QuickTime.qts").c_str()));
  EXPECT_EQ(EnterMovies(), noErr);
  EXPECT_EQ(GetMoviesError(), noErr);

  ExitMovies();
  TerminateQTML();
  EXPECT_EQ(GetModuleHandleA("QuickTime.qts"), nullptr);
}

TEST(QuickTimeDll, MovieServicesNeedTheLibraryInitialized) {
  // Bound without initialisation: held by this test, reached through the
  // hook that binds to a library someone else holds.
  const HMODULE library = LoadLibraryA((programFolder() + "QuickTime.qts").c_str());
  ASSERT_NE(library, nullptr);
  ASSERT_EQ(initCount, 0);
  libraryHandle = library;
  preCallHook = rebindEntryPoints;
  EXPECT_EQ(EnterMovies(), paramErr);
  ASSERT_EQ(preCallHook, nullptr);
  EXPECT_EQ(InitializeQTMLLibrary(0), noErr);
  EXPECT_EQ(EnterMovies(), noErr);
  ExitMovies();
  EXPECT_EQ(TerminateQTMLLibrary(), noErr);
  EXPECT_EQ(TerminateQTMLLibrary(), paramErr) << "one termination per initialisation";
  // Unbind before the library goes.
  preCallHook = rebindEntryPoints;
  dispatcherEntry = callComponentEntry = callComponentWithStorageEntry = notInitializedEntry;
  libraryHandle = nullptr;
  FreeLibrary(library);
}
