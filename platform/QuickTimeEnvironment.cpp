#include "platform/QuickTimeEnvironment.h"

#include "platform/QuickTimeLibrary.h"
#include "platform/QuickTimeServices.h"

bool QuickTimeEnvironment::start() {
  if (InitializeQTML(0) != noErr) return false;
  if (EnterMovies() != noErr) {
    // Undo this start's own initialisation, so a failed start leaves the
    // library's count as it found it and a later start/stop pair still
    // terminates the library.
    TerminateQTML();
    return false;
  }
  return true;
}

void QuickTimeEnvironment::stop() {
  ExitMovies();
  TerminateQTML();
}
