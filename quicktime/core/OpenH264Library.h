// The OpenH264 encoder, loaded at run time.
//
// H.264 is offered only while this library loads: users may put the codec
// maker's own binary (which carries its patent licence) beside QuickTime.qts,
// so the library is never linked in. On Windows it is
// openh264-2.3.1-win64.dll or openh264-2.3.1-win32.dll, taken by full path
// from the folder of the module that holds this code (never the search path,
// where any DLL of that name could be waiting); elsewhere the system's
// libopenh264.so.7.
#pragma once

#include <string>

#include <wels/codec_api.h>

namespace qt::openh264 {

// The three entries the encoder needs.
struct Library {
  int (*createEncoder)(ISVCEncoder** encoder) = nullptr;
  void (*destroyEncoder)(ISVCEncoder* encoder) = nullptr;
  OpenH264Version version = {};
};

// The file this build loads: a name beside this module on Windows, a name
// for the dynamic loader elsewhere.
const char* defaultFileName();

// The library, loaded on the first call from any thread and kept for the
// life of the process; null when it cannot be loaded or is not 2.3.x (the
// API the encoder code is written against). Never unloaded: an encoder may
// live until the process ends.
const Library* library();

// Why the last load failed ("" after a success), for messages in tests.
std::string lastLoadFailure();

// For tests: forget the loaded library and load `fileName` (a name like
// defaultFileName(), resolved the same way) at the next library() call;
// null goes back to the default. Not for use while encoders exist.
void reloadForTests(const char* fileName);

}  // namespace qt::openh264
