// Relocatable memory blocks (handles), kept by the core, which knows every
// handle it gave out: a null, disposed or foreign handle is refused there
// rather than dereferenced. These calls have no result to report it in.
#include "Handles.h"
#include "Operations.h"

namespace qtlib {

Handle NewHandle(int32_t size) { return qt::NewHandle(size); }
void HLock(Handle h) { qt::HLock(h); }
void HUnlock(Handle h) { qt::HUnlock(h); }
void MoveHHi(Handle h) { qt::MoveHHi(h); }
void DisposeHandle(Handle h) { qt::DisposeHandle(h); }

}  // namespace qtlib
