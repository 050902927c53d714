// The program folder and paths under it, the shell, the year and the log
// object, each against what Windows itself reports.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "capture/FrameClock.h"
#include "platform/ProgramFolder.h"

namespace {

std::string executableFolder() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string s = path;
  return s.substr(0, s.rfind('\\'));
}

int localYear() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return now.wYear;
}

bool fileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string freshTempFolder(const char* name) {
  char temp[MAX_PATH] = "";
  GetTempPathA(sizeof temp, temp);
  std::string folder = std::string(temp) + name + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

TEST(ProgramFolderTest, RecordsTheExecutablesFolderCalibratesAndGivesTheYear) {
  programFolder[0] = '\0';
  hasPerformanceCounter = 0;
  counterFrequency = 0;
  const int year = recordProgramFolder();
  EXPECT_EQ(year, localYear());
  EXPECT_EQ(std::string(programFolder), executableFolder());
  EXPECT_NE(programFolder[strlen(programFolder) - 1], '\\');
  LARGE_INTEGER frequency = {};
  ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
  EXPECT_TRUE(hasPerformanceCounter);
  EXPECT_EQ(counterFrequency, frequency.QuadPart);
}

TEST(ProgramFolderTest, HelpPathIsTheSameHoweverItIsSpelt) {
  programFolder[0] = '\0';  // the first call records the folder itself
  const std::string expected = executableFolder() + "\\help\\index.html";
  EXPECT_EQ(std::string(programPath("help\\index.html")), expected);
  EXPECT_EQ(std::string(programPath("\\help\\index.html")), expected);
  EXPECT_EQ(std::string(programPath("/help/index.html")), expected);
  EXPECT_EQ(std::string(programPath("help/index.html")), expected);
  EXPECT_EQ(std::string(programPath(":help\\index.html")), expected);
  // Only one leading separator is skipped.
  EXPECT_EQ(std::string(programPath("//x")), executableFolder() + "\\\\x");
  EXPECT_EQ(std::string(programPath(nullptr)), executableFolder() + "\\");
}

TEST(ProgramFolderTest, LongPathsAreCutAt259Characters) {
  const std::string longFolder = "C:\\" + std::string(250, 'f');
  strcpy(programFolder, longFolder.c_str());
  const std::string joined = programPath("help\\index.html");
  EXPECT_EQ(joined.size(), 259u);
  EXPECT_EQ(joined, (longFolder + "\\help\\index.html").substr(0, 259));
  programFolder[0] = '\0';
}

TEST(ProgramFolderTest, CurrentYearIsTheLocalYear) { EXPECT_EQ(currentYear(), localYear()); }

TEST(ProgramFolderTest, OpenWithShellRunsTheDocumentsProgram) {
  // A batch file opened with the shell runs; it leaves a marker behind.
  const std::string folder = freshTempFolder("skelby-shell-");
  const std::string marker = folder + "\\opened.txt";
  const std::string script = folder + "\\open-me.bat";
  FILE* f = fopen(script.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fprintf(f, "@echo opened> \"%s\"\r\n", marker.c_str());
  fclose(f);
  openWithShell(script.c_str(), false);
  for (int i = 0; i < 200 && !fileExists(marker); ++i) Sleep(50);
  EXPECT_TRUE(fileExists(marker)) << marker;
  Sleep(200);
  DeleteFileA(marker.c_str());
  DeleteFileA(script.c_str());
  RemoveDirectoryA(folder.c_str());
}

// The log object is inert in mode 2 (the program's) and opens its four files
// only in mode 1.
TEST(LoggerTest, CreatesFilesOnlyInModeOne) {
  const std::string folder = freshTempFolder("skelby-log-");
  char previous[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof previous, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
  const char* const names[] = {"infos.log", "errors.log", "fatals.log", "debug.log"};
  {
    Logger inert(2);
    EXPECT_EQ(inert.infoEnabled, 0);
    EXPECT_EQ(inert.errorEnabled, 1);
    EXPECT_EQ(inert.fatalEnabled, 1);
    EXPECT_EQ(inert.debugEnabled, 1);
    EXPECT_EQ(inert.infoFile, nullptr);
    EXPECT_EQ(inert.debugFile, nullptr);
    for (const char* name : names) EXPECT_FALSE(fileExists(name)) << name;
  }
  {
    Logger writing(1);
    EXPECT_NE(writing.infoFile, nullptr);
    EXPECT_NE(writing.errorFile, nullptr);
    EXPECT_NE(writing.fatalFile, nullptr);
    EXPECT_NE(writing.debugFile, nullptr);
  }
  for (const char* name : names) {
    EXPECT_TRUE(fileExists(name)) << name;
    // Closed by the destructor, so it can be deleted.
    EXPECT_TRUE(DeleteFileA(name)) << name;
  }
  EXPECT_EQ(logger.mode, 2);
  SetCurrentDirectoryA(previous);
  RemoveDirectoryA(folder.c_str());
}

}  // namespace
