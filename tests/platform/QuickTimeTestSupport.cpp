#include "QuickTimeTestSupport.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kBinFolderVariable[] = "SKELBY_TEST_BIN_FOLDER";
const char kQuickTimeKey[] = "Software\\Apple Computer, Inc.\\QuickTime";
const char kQuickTimeValue[] = "QuickTime.qts folder";

std::string ownPath() {
  char path[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, path, sizeof path);
  return path;
}

std::string folderOf(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string fileNameOf(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

std::string binFolder() {
  char folder[MAX_PATH] = "";
  const DWORD length = GetEnvironmentVariableA(kBinFolderVariable, folder, sizeof folder);
  if (length > 0 && length < sizeof folder) return folder;
  return folderOf(ownPath());
}

std::string testLibraryFolder(const char* name) { return binFolder() + "testqt\\" + name + "\\"; }

std::string testLibraryPath(const char* name) { return testLibraryFolder(name) + "QuickTime.qts"; }

std::string ourLibraryPath() { return binFolder() + "QuickTime.qts"; }

TempFolder::TempFolder() {
  static LONG sequence = 0;
  char temp[MAX_PATH] = "";
  GetTempPathA(sizeof temp, temp);
  char name[64];
  wsprintfA(name, "skelby-qt-%lu-%ld\\", GetCurrentProcessId(), InterlockedIncrement(&sequence));
  path_ = std::string(temp) + name;
  CreateDirectoryA(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path_ + "*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA((path_ + found.cFileName).c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(path_.c_str());
}

bool TempFolder::copyIn(const std::string& source, const char* name) const {
  return CopyFileA(source.c_str(), (path_ + name).c_str(), FALSE) != 0;
}

bool startProgram(const std::string& exe, const std::string& folder, PROCESS_INFORMATION* process) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  std::string commandLine = "\"" + exe + "\"";
  return CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, process) != 0;
}

DWORD runChildTest(const char* testName, const TempFolder* folder, std::string* output, const char* variable,
                   const std::string& value) {
  const std::string self = ownPath();
  std::string exe = self;
  std::string workFolder = folderOf(self);
  if (folder) {
    const std::string name = fileNameOf(self);
    if (!folder->copyIn(self, name.c_str())) {
      *output = "could not copy the test program into " + folder->path();
      return DWORD(-1);
    }
    exe = folder->path() + name;
    workFolder = folder->path();
  }
  SetEnvironmentVariableA(kBinFolderVariable, binFolder().c_str());
  if (variable) SetEnvironmentVariableA(variable, value.c_str());

  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  CreatePipe(&readEnd, &writeEnd, &inherit, 0);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::string commandLine = "\"" + exe + "\" --gtest_also_run_disabled_tests --gtest_filter=" + testName;
  PROCESS_INFORMATION process = {};
  const BOOL started = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      workFolder.c_str(), &startup, &process);
  CloseHandle(writeEnd);
  if (variable) SetEnvironmentVariableA(variable, nullptr);
  if (!started) {
    CloseHandle(readEnd);
    *output = "could not start " + exe;
    return DWORD(-1);
  }
  output->clear();
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    output->append(buffer, got);
  }
  CloseHandle(readEnd);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = DWORD(-1);
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  // A filter that matched nothing would pass silently.
  if (exitCode == 0 && output->find("[  PASSED  ] 1 test") == std::string::npos) {
    *output += "\n(the child ran no test named " + std::string(testName) + ")";
    return DWORD(-2);
  }
  return exitCode;
}

RegistryFolderValue::RegistryFolderValue(HKEY root, DWORD type, const void* data, DWORD size) : root_(root) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, kQuickTimeKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return;
  }
  ok_ = RegSetValueExA(key, kQuickTimeValue, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
  RegCloseKey(key);
}

RegistryFolderValue::RegistryFolderValue(HKEY root, const std::string& text)
    : RegistryFolderValue(root, REG_SZ, text.c_str(), DWORD(text.size() + 1)) {}

RegistryFolderValue::~RegistryFolderValue() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root_, kQuickTimeKey, 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
    RegDeleteValueA(key, kQuickTimeValue);
    RegCloseKey(key);
  }
}

void removeRegistryFolders() {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, kQuickTimeKey, 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, kQuickTimeValue);
      RegCloseKey(key);
    }
  }
}

RecordingLibrary::RecordingLibrary(HMODULE module) {
  if (!module) return;
  count = reinterpret_cast<RecordedCallCountFunction>(
      reinterpret_cast<void*>(GetProcAddress(module, "testRecordedCallCount")));
  call = reinterpret_cast<RecordedCallFunction>(
      reinterpret_cast<void*>(GetProcAddress(module, "testRecordedCall")));
  setNextResult = reinterpret_cast<SetNextResultFunction>(
      reinterpret_cast<void*>(GetProcAddress(module, "testSetNextResult")));
  setLibraryResult = reinterpret_cast<SetNextResultFunction>(
      reinterpret_cast<void*>(GetProcAddress(module, "testSetLibraryResult")));
  clear = reinterpret_cast<ClearRecordsFunction>(
      reinterpret_cast<void*>(GetProcAddress(module, "testClearRecords")));
  misalignedDispatches = reinterpret_cast<MisalignedDispatchCountFunction>(
      reinterpret_cast<void*>(GetProcAddress(module, "testMisalignedDispatchCount")));
}

long countedInEnvironment(const char* variable) {
  char text[32];
  const DWORD length = GetEnvironmentVariableA(variable, text, sizeof text);
  return length > 0 && length < sizeof text ? std::strtol(text, nullptr, 10) : 0;
}

bool anyQuickTimeLibraryLoaded() { return GetModuleHandleA("QuickTime.qts") != nullptr; }
