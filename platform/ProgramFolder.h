#pragma once
#include <windows.h>

#include <cstdio>

// The folder that holds the executable, paths under it, the shell, the year.

extern char programFolder[260];

// Records the executable's folder (no trailing backslash), calibrates the
// millisecond clock and returns the current year.
int recordProgramFolder();
// The program folder joined with relative ("help/index.html" and
// "\help\index.html" give the same path). The buffer is overwritten by the
// next call; results longer than 259 characters are cut.
const char* programPath(const char* relative);
// Asks the shell to open file with its "open" verb, with owner (may be null)
// as the window anything the shell shows belongs to. The shell's answer:
// above 32 when it opened the file, else the code of its failure.
INT_PTR openWithShell(const char* file, bool maximised, HWND owner = nullptr);
// The current local year, read the way the calendar text spells it.
int currentYear();

// The log object: exists for the whole run. In mode 1 it opens "infos.log",
// "errors.log", "fatals.log" and "debug.log" in the current folder; any other
// mode opens nothing (the program uses mode 2).
class Logger {
 public:
  explicit Logger(unsigned char mode);
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  unsigned char infoEnabled;
  FILE* infoFile;
  unsigned char errorEnabled;
  FILE* errorFile;
  unsigned char fatalEnabled;
  FILE* fatalFile;
  unsigned char debugEnabled;
  FILE* debugFile;
  unsigned char mode;
};

extern Logger logger;
