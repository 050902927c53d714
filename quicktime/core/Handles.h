// Relocatable memory blocks ("handles") as the Memory Manager had them.
//
// A handle points to a master pointer that points to the block; the block may
// move when it grows unless it is locked. Every handle the library hands out is
// remembered, so a null, disposed or foreign handle is answered with an error
// code instead of being dereferenced.
#pragma once

#include "QuickTimeTypes.h"

namespace qt {

// Returns a new block of `size` bytes (zero-filled), or null with MemError()
// memFullErr (no memory) or paramErr (negative size).
Handle NewHandle(int32_t size);

// nilHandleErr for null or foreign handles, memWZErr for disposed ones.
OSErr DisposeHandle(Handle h);

// Resizes the block, keeping its first bytes. A locked block may shrink but
// cannot move, so growing it fails with memLockedErr.
OSErr SetHandleSize(Handle h, int32_t size);

// The block's size, or -1 when the handle is not live (MemError() says why).
int32_t GetHandleSize(Handle h);

OSErr HLock(Handle h);
OSErr HUnlock(Handle h);

// Blocks never need to move to the top of this heap; a locked block is
// refused the way the Memory Manager refused it.
OSErr MoveHHi(Handle h);

// The result of the last call above on this thread.
OSErr MemError();

// noErr when `h` is a live handle of ours, else nilHandleErr or memWZErr.
OSErr CheckHandle(Handle h);
bool IsHandleLocked(Handle h);

// When `p` is the start of a live block, stores its size and returns true.
// Lets the compressor learn how large a caller's buffer really is.
bool FindBlockSize(const void* p, int32_t* size);

}  // namespace qt
