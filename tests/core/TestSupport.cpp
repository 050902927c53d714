#include "TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

namespace test {

OSErr MemorySink::write(uint64_t offset, const void* data, size_t size) {
  ++writes;
  if (bytes.size() < offset + size) bytes.resize(offset + size);
  std::memcpy(bytes.data() + offset, data, size);
  return noErr;
}

OSErr MemorySink::setLength(uint64_t length) {
  bytes.resize(length);
  return noErr;
}

OSErr MemorySink::flush() {
  ++flushes;
  return noErr;
}

bool FailingSink::failsNow() { return failAt > 0 && --failAt == 0; }

OSErr FailingSink::write(uint64_t offset, const void* data, size_t size) {
  if (failAll) return error;
  if (failsNow()) {
    // An I/O error part of the way: half of the bytes went out.
    MemorySink::write(offset, data, size / 2);
    return error;
  }
  if (offset + size > limit) {
    // A disk that fills up mid-write leaves part of the bytes behind.
    if (offset < limit) MemorySink::write(offset, data, size_t(limit - offset));
    return error;
  }
  return MemorySink::write(offset, data, size);
}

OSErr FailingSink::setLength(uint64_t length) {
  if (failAll || failsNow() || length > limit) return error;
  return MemorySink::setLength(length);
}

OSErr FailingSink::flush() {
  if (failAll || failsNow()) return error;
  return MemorySink::flush();
}

OSErr JournalSink::write(uint64_t offset, const void* data, size_t size) {
  const uint8_t* b = static_cast<const uint8_t*>(data);
  journal.push_back(Entry{Entry::kWrite, offset, std::vector<uint8_t>(b, b + size)});
  return MemorySink::write(offset, data, size);
}

OSErr JournalSink::setLength(uint64_t length) {
  journal.push_back(Entry{Entry::kLength, length, {}});
  return MemorySink::setLength(length);
}

OSErr JournalSink::flush() {
  journal.push_back(Entry{Entry::kFlush, journal.size(), {}});
  return MemorySink::flush();
}

qt::MovieOptions stillOptions() {
  qt::MovieOptions options;
  options.keeperThread = false;
  options.clock = [] { return uint64_t(1000000); };
  return options;
}

qt::MovieOptions drivenOptions(const ManualClock& clock) {
  qt::MovieOptions options;
  options.keeperThread = false;
  options.clock = clock.function();
  return options;
}

OSErr CountingSink::write(uint64_t offset, const void* data, size_t size) {
  bytesWritten += size;
  if (size < kKeepBelow) {
    const uint8_t* b = static_cast<const uint8_t*>(data);
    kept.emplace_back(offset, std::vector<uint8_t>(b, b + size));
    if (size >= 8 && std::memcmp(b + 4, "moov", 4) == 0) lastMovieAtom = offset;
  }
  if (offset + size > length) length = offset + size;
  return noErr;
}

std::vector<uint8_t> CountingSink::read(uint64_t at, size_t n) const {
  std::vector<uint8_t> out(n, 0);
  for (const auto& [offset, bytes] : kept) {
    const uint64_t from = std::max(at, offset);
    const uint64_t to = std::min(at + n, offset + bytes.size());
    for (uint64_t i = from; i < to; ++i) out[size_t(i - at)] = bytes[size_t(i - offset)];
  }
  return out;
}

OSErr CountingSink::setLength(uint64_t newLength) {
  length = newLength;
  return noErr;
}

std::string outputPath(const std::string& name) { return std::string(SKELBY_TEST_OUTPUT) + "/" + name; }

std::string saveFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = outputPath(name);
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

std::string run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

uint32_t be32At(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

uint64_t be64At(const std::vector<uint8_t>& b, size_t at) {
  return uint64_t(be32At(b, at)) << 32 | be32At(b, at + 4);
}

std::vector<TopAtom> topLevelAtoms(const std::vector<uint8_t>& file) {
  std::vector<TopAtom> atoms;
  uint64_t at = 0;
  while (at + 8 <= file.size()) {
    uint64_t size = be32At(file, size_t(at));
    uint64_t header = 8;
    if (size == 1 && at + 16 <= file.size()) {
      size = be64At(file, size_t(at + 8));
      header = 16;
    } else if (size == 0) {
      size = file.size() - at;
    }
    if (size < header || size > file.size() - at) break;
    atoms.push_back(TopAtom{std::string(reinterpret_cast<const char*>(file.data() + at + 4), 4), at, size});
    at += size;
  }
  return atoms;
}

std::string atomLayout(const std::vector<uint8_t>& file) {
  std::string layout;
  for (const TopAtom& a : topLevelAtoms(file)) layout += (layout.empty() ? "" : " ") + a.type;
  return layout;
}

AtomRef findAtom(const std::vector<uint8_t>& file, const std::string& path) {
  size_t begin = 0, end = file.size();
  AtomRef ref;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    std::string name = path.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
    ref.found = false;
    for (size_t at = begin; at + 8 <= end;) {
      uint64_t size = be32At(file, at);
      size_t header = 8;
      if (size == 1) {
        size = be64At(file, at + 8);
        header = 16;
      } else if (size == 0) {
        size = end - at;
      }
      if (size < header || at + size > end) return AtomRef{};
      if (std::memcmp(file.data() + at + 4, name.data(), 4) == 0) {
        ref = AtomRef{at, size_t(size), header, true};
        break;
      }
      at += size_t(size);
    }
    if (!ref.found) return ref;
    begin = ref.offset + ref.header;
    end = ref.offset + ref.size;
    if (slash == std::string::npos) break;
    pos = slash + 1;
  }
  return ref;
}

void Image::set(int x, int y, uint8_t r, uint8_t g, uint8_t b, uint8_t x4) {
  uint8_t* p = row(y) + x * 4;
  p[0] = b;
  p[1] = g;
  p[2] = r;
  p[3] = x4;
}

Image letterF() {
  static const char* kRows[5] = {"#####.", "#.....", "####..", "#.....", "#....."};
  Image img{6, 5, std::vector<uint8_t>(6 * 5 * 4)};
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) {
      if (kRows[y][x] == '#')
        img.set(x, y, 0xE0, 0x10, 0x20);
      else
        img.set(x, y, 0x10, 0x30, 0xD0);
    }
  return img;
}

Image noise(int width, int height, uint32_t seed, int runChance) {
  Image img{width, height, std::vector<uint8_t>(size_t(width) * size_t(height) * 4)};
  std::mt19937 rng(seed);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      if (x > 0 && int(rng() % 10) < runChance) {
        std::memcpy(img.row(y) + x * 4, img.row(y) + (x - 1) * 4, 3);
        img.row(y)[x * 4 + 3] = uint8_t(rng());
      } else {
        img.set(x, y, uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), uint8_t(rng()));
      }
    }
  return img;
}

Image screenLike(int width, int height, uint32_t seed) {
  Image img{width, height, std::vector<uint8_t>(size_t(width) * size_t(height) * 4)};
  std::mt19937 rng(seed);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      bool titleBar = y < height / 10;
      bool text =
          !titleBar && (y % 12) < 8 && (x % 7) < 4 && ((x / 7 + y / 12 + seed) % 5) != 0 && (rng() % 3 == 0);
      if (titleBar)
        img.set(x, y, uint8_t(40 + x * 100 / width), 80, uint8_t(200 - y));
      else if (text)
        img.set(x, y, 20, 20, 30);
      else
        img.set(x, y, 0xF0, 0xF0, 0xEC);
    }
  return img;
}

std::vector<uint8_t> toRgb(const Image& img) {
  std::vector<uint8_t> rgb(size_t(img.width) * size_t(img.height) * 3);
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) {
      const uint8_t* p = img.row(y) + x * 4;
      uint8_t* q = rgb.data() + (size_t(y) * size_t(img.width) + size_t(x)) * 3;
      q[0] = p[2];
      q[1] = p[1];
      q[2] = p[0];
    }
  return rgb;
}

}  // namespace test

#include "Handles.h"
#include "Movies.h"

namespace test {

ImageDescriptionHandle makeDescription(OSType codec, int16_t width, int16_t height, int16_t depth) {
  Handle h = qt::NewHandle(sizeof(ImageDescription));
  ImageDescription* d = reinterpret_cast<ImageDescription*>(*h);
  d->idSize = sizeof(ImageDescription);
  d->cType = codec;
  d->vendor = fourCC("test");
  d->spatialQuality = codecNormalQuality;
  d->width = width;
  d->height = height;
  d->hRes = 72 << 16;
  d->vRes = 72 << 16;
  d->frameCount = 1;
  d->name[0] = 4;
  std::memcpy(d->name + 1, "Test", 4);
  d->depth = depth;
  d->clutID = -1;
  return reinterpret_cast<ImageDescriptionHandle>(h);
}

MovieParts makeMovie(std::shared_ptr<qt::Sink> sink, int width, int height, TimeScale scale,
                     const qt::MovieOptions& given) {
  MovieParts p;
  p.sink = sink;
  qt::MovieOptions options = given;
  options.creationTime = 0xC0FFEE00u;
  if (qt::CreateMovieInSink(sink, options, &p.movie)) return p;
  if (qt::NewMovieTrack(p.movie, width << 16, height << 16, 0, &p.track)) return p;
  if (qt::NewTrackMedia(p.track, VideoMediaType, scale, nullptr, 0, &p.media)) return p;
  qt::BeginMediaEdits(p.media);
  return p;
}

OSErr finishMovie(MovieParts& p) {
  if (OSErr err = qt::EndMediaEdits(p.media)) return err;
  if (OSErr err = qt::InsertMediaIntoTrack(p.track, 0, 0, qt::GetMediaDuration(p.media), 0x10000)) return err;
  return qt::AddMovieResource(p.movie, p.sink.get(), movieInDataForkResID, nullptr);
}

}  // namespace test
