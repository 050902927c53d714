#include "BackgroundFlush.h"

#include <system_error>

#include "Sink.h"

namespace qt {

OSErr BackgroundFlush::start() {
  std::unique_lock<std::mutex> g(lock_);
  changed_.wait(g, [this] { return !requested_; });
  if (stopped_) return flush_();
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread(&BackgroundFlush::run, this);
    } catch (const std::system_error&) {
      stopped_ = true;  // no thread to be had: flush where we stand
      g.unlock();
      return flush_();
    }
  }
  requested_ = true;
  changed_.notify_all();
  return kFlushInProgress;
}

OSErr BackgroundFlush::status() {
  std::lock_guard<std::mutex> g(lock_);
  return requested_ ? kFlushInProgress : result_;
}

OSErr BackgroundFlush::wait() {
  std::unique_lock<std::mutex> g(lock_);
  changed_.wait(g, [this] { return !requested_; });
  return result_;
}

void BackgroundFlush::stop() {
  {
    std::unique_lock<std::mutex> g(lock_);
    changed_.wait(g, [this] { return !requested_; });
    stopping_ = true;
    stopped_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

void BackgroundFlush::run() {
  std::unique_lock<std::mutex> g(lock_);
  for (;;) {
    changed_.wait(g, [this] { return requested_ || stopping_; });
    if (!requested_) return;
    g.unlock();
    const OSErr result = flush_();
    g.lock();
    result_ = result;
    requested_ = false;
    changed_.notify_all();
  }
}

}  // namespace qt
