// A parallel-for for the codecs: a frame's bands are spread over the
// processors while one compression call runs, and the call returns only when
// every band is done. The caller stays the one thread it was; the helper
// threads sleep on a condition variable between calls.
//
// The split into bands is the codec's, fixed by the frame size, so what a
// codec writes never depends on how many threads ran it.
#pragma once

#include <cstdint>

namespace qt::workers {

// Frames of fewer pixels than this are compressed on the calling thread
// alone. Measured on two processors with every codec (fastest of 200
// frames): below about 120,000 pixels most frames are one band anyway;
// Linux gains 1.3 to 1.6 times from there, but under Wine a helper wakes
// too late to take a band of a frame up to about 300,000 pixels.
constexpr uint64_t kInlinePixels = 200000;

// The threads a compression may use, the caller included: the processors'
// count unless set. One means no helper thread is ever started.
int threadCount();

// For tests and benchmarks only: 0 goes back to the processors' count.
void setThreadCount(int count);

// Runs task(0) .. task(count - 1), each once, in any order and on any of the
// threads; returns when all have returned. Runs them in order on the
// calling thread when there is one thread, one task, or fewer than
// `inlineBelow` pixels of frame, and when a helper thread cannot be started.
void runTasks(int count, uint64_t pixels, uint64_t inlineBelow, void (*task)(void* context, int index),
              void* context);

// Ends the helper threads and waits for them (a later run starts them
// again). For the library's termination, before the module that holds
// their code may be unloaded; never from a DLL's own detach notification.
void stop();

// A frame's rows cut into bands of about `perBand` units (pixels or bytes),
// a row being `perRow` of them. The cut depends on the frame's size alone,
// never on the number of threads, so neither does what a codec writes.
struct RowBands {
  int rowsPerBand;
  int count;
  int height;
  RowBands(uint64_t perRow, int rows, uint64_t perBand)
      : rowsPerBand(int((perBand + perRow - 1) / perRow)),
        count((rows + rowsPerBand - 1) / rowsPerBand),
        height(rows) {}
  int first(int band) const { return band * rowsPerBand; }
  int end(int band) const { return first(band) + rowsPerBand < height ? first(band) + rowsPerBand : height; }
};

// A codec much cheaper per pixel than most passes a higher `inlineBelow`.
template <typename Task>
void run(int count, uint64_t pixels, const Task& task, uint64_t inlineBelow = kInlinePixels) {
  runTasks(
      count, pixels, inlineBelow, [](void* c, int i) { (*static_cast<const Task*>(c))(i); },
      const_cast<void*>(static_cast<const void*>(&task)));
}

}  // namespace qt::workers
