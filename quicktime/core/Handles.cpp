#include "Handles.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace qt {
namespace {

// The master pointer must be the first member: a Handle is its address.
struct Block {
  char* data = nullptr;
  int32_t size = 0;
  bool locked = false;
  bool disposed = false;
};

// Master pointer records are never freed, so a disposed handle stays
// recognisable for the life of the process (a few dozen bytes per disposed
// handle; the program makes a handful per recording).
struct Heap {
  std::mutex lock;
  std::unordered_map<Handle, Block*> blocks;
  std::unordered_map<const void*, Block*> byData;
};

Heap& heap() {
  static Heap* h = new Heap;  // never destroyed: handles may outlive statics
  return *h;
}

thread_local OSErr lastMemError = noErr;

OSErr remember(OSErr err) {
  lastMemError = err;
  return err;
}

// Looks up a handle; the caller holds the heap lock.
OSErr find(Heap& hp, Handle h, Block** out) {
  if (!h) return nilHandleErr;
  auto it = hp.blocks.find(h);
  if (it == hp.blocks.end()) return nilHandleErr;
  if (it->second->disposed) return memWZErr;
  *out = it->second;
  return noErr;
}

// At least one byte, so that the master pointer of an empty block is not null.
char* allocate(int32_t size) { return static_cast<char*>(std::calloc(size > 0 ? size_t(size) : 1, 1)); }

}  // namespace

Handle NewHandle(int32_t size) {
  if (size < 0) {
    remember(paramErr);
    return nullptr;
  }
  char* data = allocate(size);
  if (!data) {
    remember(memFullErr);
    return nullptr;
  }
  Block* b = new (std::nothrow) Block;
  if (!b) {
    std::free(data);
    remember(memFullErr);
    return nullptr;
  }
  b->data = data;
  b->size = size;
  Heap& hp = heap();
  std::lock_guard<std::mutex> g(hp.lock);
  Handle h = &b->data;
  hp.blocks[h] = b;
  hp.byData[data] = b;
  remember(noErr);
  return h;
}

OSErr DisposeHandle(Handle h) {
  Heap& hp = heap();
  std::lock_guard<std::mutex> g(hp.lock);
  Block* b = nullptr;
  if (OSErr err = find(hp, h, &b)) return remember(err);
  hp.byData.erase(b->data);
  std::free(b->data);
  b->data = nullptr;  // a stale dereference now faults instead of reading freed memory
  b->size = 0;
  b->locked = false;
  b->disposed = true;
  return remember(noErr);
}

OSErr SetHandleSize(Handle h, int32_t size) {
  if (size < 0) return remember(paramErr);
  Heap& hp = heap();
  std::lock_guard<std::mutex> g(hp.lock);
  Block* b = nullptr;
  if (OSErr err = find(hp, h, &b)) return remember(err);
  if (size <= b->size) {
    // Shrinking never moves the block, locked or not; the spare bytes stay
    // allocated and are cleared so a later grow starts from zeros.
    std::memset(b->data + size, 0, size_t(b->size - size));
    b->size = size;
    return remember(noErr);
  }
  if (b->locked) return remember(memLockedErr);
  char* grown = allocate(size);
  if (!grown) return remember(memFullErr);
  std::memcpy(grown, b->data, size_t(b->size));
  hp.byData.erase(b->data);
  std::free(b->data);
  b->data = grown;
  b->size = size;
  hp.byData[grown] = b;
  return remember(noErr);
}

int32_t GetHandleSize(Handle h) {
  Heap& hp = heap();
  std::lock_guard<std::mutex> g(hp.lock);
  Block* b = nullptr;
  if (remember(find(hp, h, &b))) return -1;
  return b->size;
}

OSErr HLock(Handle h) {
  Heap& hp = heap();
  std::lock_guard<std::mutex> g(hp.lock);
  Block* b = nullptr;
  if (OSErr err = find(hp, h, &b)) return remember(err);
  b->locked = true;
  return remember(noErr);
}

OSErr HUnlock(Handle h) {
  Heap& hp = heap();
  std::lock_guard<std::mutex> g(hp.lock);
  Block* b = nullptr;
  if (OSErr err = find(hp, h, &b)) return remember(err);
  b->locked = false;
  return remember(noErr);
}

OSErr MoveHHi(Handle h) {
  Heap& hp = heap();
  std::lock_guard<std::mutex> g(hp.lock);
  Block* b = nullptr;
  if (OSErr err = find(hp, h, &b)) return remember(err);
  return remember(b->locked ? memLockedErr : noErr);
}

OSErr MemError() { return lastMemError; }

OSErr CheckHandle(Handle h) {
  Heap& hp = heap();
  std::lock_guard<std::mutex> g(hp.lock);
  Block* b = nullptr;
  return find(hp, h, &b);
}

bool IsHandleLocked(Handle h) {
  Heap& hp = heap();
  std::lock_guard<std::mutex> g(hp.lock);
  Block* b = nullptr;
  return find(hp, h, &b) == noErr && b->locked;
}

bool FindBlockSize(const void* p, int32_t* size) {
  Heap& hp = heap();
  std::lock_guard<std::mutex> g(hp.lock);
  auto it = hp.byData.find(p);
  if (it == hp.byData.end()) return false;
  *size = it->second->size;
  return true;
}

}  // namespace qt
