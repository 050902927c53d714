// Big-endian byte building for movie atoms.
//
// An Atom scope writes a placeholder size and the type when it opens and
// patches the size when it closes, so nesting in the code mirrors nesting in
// the file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "QuickTimeTypes.h"

namespace qt {

class ByteWriter {
 public:
  void be8(uint8_t v) { *grow(1) = v; }
  void be16(uint16_t v) {
    uint8_t* b = grow(2);
    b[0] = uint8_t(v >> 8);
    b[1] = uint8_t(v);
  }
  void be32(uint32_t v) {
    uint8_t* b = grow(4);
    b[0] = uint8_t(v >> 24);
    b[1] = uint8_t(v >> 16);
    b[2] = uint8_t(v >> 8);
    b[3] = uint8_t(v);
  }
  void be64(uint64_t v) {
    be32(uint32_t(v >> 32));
    be32(uint32_t(v));
  }
  void code(OSType c) { be32(c); }
  void zeros(size_t n) {
    if (n) std::memset(grow(n), 0, n);
  }
  void raw(const void* p, size_t n) {
    if (n) std::memcpy(grow(n), p, n);
  }
  // A Pascal string of at most 31 characters, in a 32-byte field.
  void str31(const unsigned char* p) {
    size_t n = p ? (p[0] > 31 ? 31 : p[0]) : 0;
    be8(uint8_t(n));
    if (n) raw(p + 1, n);
    zeros(31 - n);
  }
  void patch32(size_t at, uint32_t v) {
    bytes_[at] = uint8_t(v >> 24);
    bytes_[at + 1] = uint8_t(v >> 16);
    bytes_[at + 2] = uint8_t(v >> 8);
    bytes_[at + 3] = uint8_t(v);
  }
  size_t size() const { return size_; }
  const uint8_t* data() const { return bytes_.data(); }
  void reserve(size_t n) {
    if (n > bytes_.size()) bytes_.resize(n);
  }
  // Empties it and keeps the room, for the next atom of the same size.
  void clear() { size_ = 0; }

 private:
  // Room for n more bytes at the end. The sample tables of a long
  // recording's movie atom are hundreds of thousands of fields, so a field
  // costs a bounds check and a few stores, not a vector insertion.
  uint8_t* grow(size_t n) {
    if (bytes_.size() - size_ < n) bytes_.resize(std::max(bytes_.size() * 2, size_ + n));
    uint8_t* at = bytes_.data() + size_;
    size_ += n;
    return at;
  }

  std::vector<uint8_t> bytes_;  // its size is the room; size_ is what was written
  size_t size_ = 0;
};

class Atom {
 public:
  Atom(ByteWriter& w, OSType type) : w_(w), start_(w.size()) {
    w_.be32(0);  // size, patched on close
    w_.code(type);
  }
  ~Atom() { w_.patch32(start_, uint32_t(w_.size() - start_)); }
  Atom(const Atom&) = delete;
  Atom& operator=(const Atom&) = delete;

 private:
  ByteWriter& w_;
  size_t start_;
};

// A full atom: version and flags after the header.
class FullAtom : public Atom {
 public:
  FullAtom(ByteWriter& w, OSType type, uint8_t version, uint32_t flags) : Atom(w, type) {
    w.be8(version);
    w.be8(uint8_t(flags >> 16));
    w.be16(uint16_t(flags));
  }
};

}  // namespace qt
