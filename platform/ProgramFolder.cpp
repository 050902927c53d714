#include "platform/ProgramFolder.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "capture/FrameClock.h"

char programFolder[260] = "";

namespace {
char programPathBuffer[260];
}

int recordProgramFolder() {
  DWORD length = GetModuleFileNameA(nullptr, programFolder, sizeof programFolder);
  // A path cut by the buffer is not terminated on older systems.
  if (length >= sizeof programFolder) length = sizeof programFolder - 1;
  programFolder[length] = '\0';
  for (DWORD i = length; i >= 1; --i) {
    if (programFolder[i] == '\\') {
      programFolder[i] = '\0';
      break;
    }
  }
  calibrateClock();
  return currentYear();
}

const char* programPath(const char* relative) {
  memset(programPathBuffer, 0, sizeof programPathBuffer);
  if (programFolder[0] == '\0') recordProgramFolder();
  if (!relative) relative = "";
  if (relative[0] == '\\' || relative[0] == ':' || relative[0] == '/') ++relative;
  snprintf(programPathBuffer, sizeof programPathBuffer, "%s\\%s", programFolder, relative);
  for (char* p = programPathBuffer; *p; ++p) {
    if (*p == '/') *p = '\\';
  }
  return programPathBuffer;
}

INT_PTR openWithShell(const char* file, bool maximised, HWND owner) {
  return reinterpret_cast<INT_PTR>(
      ShellExecuteA(owner, "open", file, nullptr, nullptr, maximised ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL));
}

int currentYear() {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  time_t now = time(nullptr);
  const struct tm* local = localtime(&now);
  if (!local) return 0;
  char text[256];
  // The calendar text ends in the year and a newline: its last five characters.
  int length = snprintf(text, sizeof text, "%s %s%3d %.2d:%.2d:%.2d %d\n", kDays[local->tm_wday % 7],
                        kMonths[local->tm_mon % 12], local->tm_mday, local->tm_hour, local->tm_min,
                        local->tm_sec, local->tm_year + 1900);
  if (length < 5 || length >= static_cast<int>(sizeof text)) return 0;
  return atoi(text + length - 5);
}

Logger::Logger(unsigned char mode)
    : infoEnabled(0),
      infoFile(nullptr),
      errorEnabled(1),
      errorFile(nullptr),
      fatalEnabled(1),
      fatalFile(nullptr),
      debugEnabled(1),
      debugFile(nullptr),
      mode(mode) {
  if (mode != 1) return;
  infoFile = fopen("infos.log", "wt");
  errorFile = fopen("errors.log", "wt");
  fatalFile = fopen("fatals.log", "wt");
  debugFile = fopen("debug.log", "wt");
}

Logger::~Logger() {
  if (mode != 1) return;
  for (FILE* f : {infoFile, errorFile, fatalFile, debugFile}) {
    if (f) fclose(f);
  }
}

Logger logger(2);
