// The movie file's sink on a real Win32 file: every write lands at its own
// offset, whatever was written before and wherever the file pointer stands.
#include "Win32Files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string scratchPath() {
  char folder[MAX_PATH];
  GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + "skelby-file-sink.bin";
}

std::vector<char> readAll(const std::string& path) {
  std::vector<char> bytes;
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return bytes;
  LARGE_INTEGER size;
  GetFileSizeEx(f, &size);
  bytes.resize(size_t(size.QuadPart));
  DWORD read = 0;
  if (!bytes.empty()) ReadFile(f, bytes.data(), DWORD(bytes.size()), &read, nullptr);
  bytes.resize(read);
  CloseHandle(f);
  return bytes;
}

HANDLE createScratch(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_WRITE | GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(FileSink, WritesLandAtTheirOffsetsInAnyOrder) {
  const std::string path = scratchPath();
  HANDLE file = createScratch(path);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  {
    qtlib::FileSink sink(file, path);
    EXPECT_EQ(sink.write(0, "ABCDEFGH", 8), noErr);
    // Past the end: the gap reads as zeros.
    EXPECT_EQ(sink.write(12, "mdat", 4), noErr);
    // Back into what is written, as a size is patched in front of its data.
    EXPECT_EQ(sink.write(2, "xy", 2), noErr);
    // Moving the file pointer behind the sink's back changes nothing.
    LARGE_INTEGER elsewhere;
    elsewhere.QuadPart = 3;
    SetFilePointerEx(file, elsewhere, nullptr, FILE_BEGIN);
    EXPECT_EQ(sink.write(9, "Q", 1), noErr);
    EXPECT_EQ(sink.write(16, "", 0), noErr);
    EXPECT_EQ(sink.close(), noErr);
  }
  const std::vector<char> expected = {'A', 'B', 'x', 'y', 'E', 'F', 'G', 'H',
                                      0,   'Q', 0,   0,   'm', 'd', 'a', 't'};
  EXPECT_EQ(readAll(path), expected);
  DeleteFileA(path.c_str());
}

// The movie's keeper flushes while the recording writes: through a handle
// of its own, each flush succeeds and no write is lost or misplaced; once
// closed, flushes are refused like writes.
TEST(FileSink, FlushesOnAnotherThreadWhileWritesGoOn) {
  const std::string path = scratchPath();
  HANDLE file = createScratch(path);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  std::vector<char> expected;
  {
    qtlib::FileSink sink(file, path);
    std::atomic<bool> writing{true};
    std::atomic<int> flushes{0}, failed{0};
    std::thread keeper([&] {
      while (writing || flushes == 0) {
        if (sink.flush() == noErr)
          ++flushes;
        else
          ++failed;
      }
    });
    for (int i = 0; i < 400; ++i) {
      std::vector<char> chunk(4096, char('a' + i % 26));
      ASSERT_EQ(sink.write(uint64_t(i) * chunk.size(), chunk.data(), chunk.size()), noErr) << i;
      expected.insert(expected.end(), chunk.begin(), chunk.end());
    }
    writing = false;
    keeper.join();
    EXPECT_GT(flushes.load(), 0);
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(sink.close(), noErr);
    EXPECT_EQ(sink.flush(), fnOpnErr);
  }
  EXPECT_EQ(readAll(path), expected);
  DeleteFileA(path.c_str());
}

TEST(FileSink, ALargeWriteAtAHighOffsetKeepsEveryByte) {
  const std::string path = scratchPath();
  HANDLE file = createScratch(path);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  // A frame-sized write whose bytes all differ from their neighbours', at an
  // offset that does not fit 32 bits' low half alone (the high half counts).
  std::vector<char> frame(3 * 1024 * 1024 + 7);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = char(i * 7 + i / 251);
  const uint64_t high = (uint64_t(1) << 32) + 36;
  {
    qtlib::FileSink sink(file, path);
    ASSERT_EQ(sink.write(high, frame.data(), frame.size()), noErr);
    ASSERT_EQ(sink.setLength(high + frame.size()), noErr);
    EXPECT_EQ(sink.close(), noErr);
  }
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  LARGE_INTEGER size;
  GetFileSizeEx(f, &size);
  EXPECT_EQ(uint64_t(size.QuadPart), high + frame.size());
  LARGE_INTEGER at;
  at.QuadPart = LONGLONG(high);
  SetFilePointerEx(f, at, nullptr, FILE_BEGIN);
  std::vector<char> back(frame.size());
  DWORD read = 0;
  ReadFile(f, back.data(), DWORD(back.size()), &read, nullptr);
  CloseHandle(f);
  EXPECT_EQ(read, DWORD(frame.size()));
  EXPECT_TRUE(back == frame) << "the bytes read back differ from those written";
  DeleteFileA(path.c_str());
}

TEST(FileSink, RefusesOffsetsPastTheLargestFileAndWritesAfterClose) {
  const std::string path = scratchPath();
  HANDLE file = createScratch(path);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  qtlib::FileSink sink(file, path);
  EXPECT_EQ(sink.write(uint64_t(INT64_MAX) + 1, "x", 1), posErr);
  EXPECT_EQ(sink.write(uint64_t(INT64_MAX), "xy", 2), posErr);
  EXPECT_EQ(sink.close(), noErr);
  EXPECT_EQ(sink.write(0, "x", 1), fnOpnErr);
  DeleteFileA(path.c_str());
}

}  // namespace
