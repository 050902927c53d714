// The library's own initialisation and termination, and the two component
// calls it exports beside its dispatcher.
#include <cstdint>

#include "Operations.h"

#include "Workers.h"

namespace qtlib {

namespace {
// Initialisations not yet matched by a termination. The program's loader
// counts its own and calls each of these once; other modules of the process
// may initialise the library too.
int32_t initializations = 0;
}  // namespace

bool libraryInitialized() { return initializations > 0; }

// The flags select Windows-layer options that this library does not have;
// every value is accepted.
OSErr InitializeQTMLLibrary(int32_t) {
  ++initializations;
  return noErr;
}

// The last termination also ends the codecs' helper threads: the program
// unloads the library next, and no thread may be left parked in its code.
OSErr TerminateQTMLLibrary() {
  if (initializations == 0) return paramErr;
  if (--initializations == 0) qt::workers::stop();
  return noErr;
}

}  // namespace qtlib

// No operation of the program calls through the component entries; they
// exist because the program's loader binds all three exports. Both answer
// "not implemented" whatever they are given.
extern "C" int32_t quickTimeCallComponent(void*, void*) { return qtlib::unimpErr; }
extern "C" int32_t quickTimeCallComponentFunctionWithStorage(void*, void*, void*) { return qtlib::unimpErr; }
