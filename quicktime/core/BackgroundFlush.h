// A sink's flush on a thread of its own, so that the one writing the movie
// does not wait for the disk: the flush that makes a checkpoint safe from a
// power cut waits as long as the disk needs to take every byte written since
// the last one, which for large frames is a good part of a second.
//
// The thread starts with the first flush, waits parked between flushes and
// ends with the object. If it cannot be started the flush runs at once.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "QuickTimeTypes.h"

namespace qt {

class BackgroundFlush {
 public:
  explicit BackgroundFlush(std::function<OSErr()> flush) : flush_(std::move(flush)) {}
  ~BackgroundFlush() { stop(); }
  BackgroundFlush(const BackgroundFlush&) = delete;
  BackgroundFlush& operator=(const BackgroundFlush&) = delete;

  // Starts a flush: kFlushInProgress, or its result when it ran at once.
  // One already running is waited for first.
  OSErr start();
  // kFlushInProgress while the flush started last runs, then its result.
  OSErr status();
  // Waits for the flush started last; its result, noErr when there was none.
  OSErr wait();
  // Waits, then ends the thread. Later flushes run at once.
  void stop();

 private:
  void run();

  std::function<OSErr()> flush_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::thread thread_;
  bool requested_ = false;  // a flush is asked for or running
  bool stopping_ = false;
  bool stopped_ = false;
  OSErr result_ = noErr;
};

}  // namespace qt
