#include "OpenH264Library.h"

#include <mutex>

#if defined(_WIN32)
// The one place in the core that needs the platform: finding this module's
// folder and loading a DLL from it.
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace qt::openh264 {
namespace {

// The API the encoder code is written against: 2.3.x (the ABI of
// SEncParamExt changes between minor versions).
constexpr unsigned kMajor = 2, kMinor = 3;

struct State {
  std::mutex lock;
  bool tried = false;              // guarded by lock
  const char* fileName = nullptr;  // guarded by lock; null: the default
  Library library;                 // guarded by lock; valid when loaded
  bool loaded = false;             // guarded by lock
  std::string failure;             // guarded by lock
};

State& state() {
  static State* s = new State;  // never destroyed: encoders may outlive statics
  return *s;
}

#if defined(_WIN32)

// The full path of `fileName` in the folder of the module holding this
// code (QuickTime.qts, or a test program linking the core).
bool pathBesideThisModule(const char* fileName, std::wstring* path, std::string* why) {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&pathBesideThisModule), &self)) {
    *why = "cannot find the module holding the codec code";
    return false;
  }
  std::wstring module(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(self, &module[0], DWORD(module.size()));
    if (n == 0) {
      *why = "cannot read the module's path";
      return false;
    }
    if (n < module.size()) {
      module.resize(n);
      break;
    }
    module.resize(module.size() * 2);  // truncated: a long path
  }
  const size_t slash = module.find_last_of(L"\\/");
  std::wstring folder = slash == std::wstring::npos ? std::wstring() : module.substr(0, slash + 1);
  for (const char* c = fileName; *c; ++c) folder += wchar_t(static_cast<unsigned char>(*c));
  *path = folder;
  return true;
}

bool loadEntries(const char* fileName, Library* out, std::string* why) {
  std::wstring path;
  if (!pathBesideThisModule(fileName, &path, why)) return false;
  // A full path: LoadLibraryW takes that file and no other.
  HMODULE module = LoadLibraryW(path.c_str());
  if (!module) {
    *why = std::string("cannot load ") + fileName + " beside QuickTime.qts";
    return false;
  }
  auto entry = [module](const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); };
  void* create = entry("WelsCreateSVCEncoder");
  void* destroy = entry("WelsDestroySVCEncoder");
  void* version = entry("WelsGetCodecVersionEx");
  if (!create || !destroy || !version) {
    FreeLibrary(module);
    *why = std::string(fileName) + " lacks the encoder's entries";
    return false;
  }
  out->createEncoder = reinterpret_cast<int (*)(ISVCEncoder**)>(create);
  out->destroyEncoder = reinterpret_cast<void (*)(ISVCEncoder*)>(destroy);
  // The Ex form fills a record through a pointer; the plain one returns a
  // record by value, which older mingw compilers pass differently from
  // the codec's official (MSVC) builds.
  reinterpret_cast<void (*)(OpenH264Version*)>(version)(&out->version);
  if (out->version.uMajor != kMajor || out->version.uMinor != kMinor) {
    FreeLibrary(module);
    *why = std::string(fileName) + " is not version 2.3";
    return false;
  }
  return true;
}

#else

bool loadEntries(const char* fileName, Library* out, std::string* why) {
  void* module = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* e = dlerror();
    *why = e ? e : "dlopen failed";
    return false;
  }
  void* create = dlsym(module, "WelsCreateSVCEncoder");
  void* destroy = dlsym(module, "WelsDestroySVCEncoder");
  void* version = dlsym(module, "WelsGetCodecVersionEx");
  if (!create || !destroy || !version) {
    dlclose(module);
    *why = std::string(fileName) + " lacks the encoder's entries";
    return false;
  }
  out->createEncoder = reinterpret_cast<int (*)(ISVCEncoder**)>(create);
  out->destroyEncoder = reinterpret_cast<void (*)(ISVCEncoder*)>(destroy);
  reinterpret_cast<void (*)(OpenH264Version*)>(version)(&out->version);
  if (out->version.uMajor != kMajor || out->version.uMinor != kMinor) {
    dlclose(module);
    *why = std::string(fileName) + " is not version 2.3";
    return false;
  }
  return true;
}

#endif

}  // namespace

const char* defaultFileName() {
#if defined(_WIN32) && defined(_WIN64)
  return "openh264-2.3.1-win64.dll";
#elif defined(_WIN32)
  return "openh264-2.3.1-win32.dll";
#else
  return "libopenh264.so.7";
#endif
}

const Library* library() {
  State& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  if (!s.tried) {
    s.tried = true;
    Library loaded;
    std::string why;
    s.loaded = loadEntries(s.fileName ? s.fileName : defaultFileName(), &loaded, &why);
    if (s.loaded) s.library = loaded;
    s.failure = s.loaded ? std::string() : why;
  }
  return s.loaded ? &s.library : nullptr;
}

std::string lastLoadFailure() {
  State& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  return s.failure;
}

void reloadForTests(const char* fileName) {
  State& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  s.tried = false;
  s.loaded = false;
  s.fileName = fileName;
  s.failure.clear();
}

}  // namespace qt::openh264
