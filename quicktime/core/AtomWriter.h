// Big-endian byte building for movie atoms.
//
// An Atom scope writes a placeholder size and the type when it opens and
// patches the size when it closes, so nesting in the code mirrors nesting in
// the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "QuickTimeTypes.h"

namespace qt {

class ByteWriter {
 public:
  void be8(uint8_t v) { bytes_.push_back(v); }
  void be16(uint16_t v) {
    be8(uint8_t(v >> 8));
    be8(uint8_t(v));
  }
  void be32(uint32_t v) {
    be16(uint16_t(v >> 16));
    be16(uint16_t(v));
  }
  void be64(uint64_t v) {
    be32(uint32_t(v >> 32));
    be32(uint32_t(v));
  }
  void code(OSType c) { be32(c); }
  void zeros(size_t n) { bytes_.insert(bytes_.end(), n, 0); }
  void raw(const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    bytes_.insert(bytes_.end(), b, b + n);
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
  size_t size() const { return bytes_.size(); }
  const uint8_t* data() const { return bytes_.data(); }
  void reserve(size_t n) { bytes_.reserve(n); }

 private:
  std::vector<uint8_t> bytes_;
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
