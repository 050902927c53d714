#include "Workers.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace qt::workers {
namespace {

std::atomic<int> requestedThreads{0};

int processors() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : int(n);
}

// Helper threads, started on first need: they block on `wake` between jobs
// until stop(). The pool is never destroyed, because joining threads from a
// DLL's static destructors (under the loader lock) can hang the process on
// its way out; at exit the system ends the sleeping threads.
constexpr std::chrono::microseconds kLookout{200};

// Spins while `waiting()` holds, for at most kLookout; whoever looks out
// sleeps afterwards if it still must.
template <typename Waiting>
void lookOut(const Waiting& waiting) {
  const auto until = std::chrono::steady_clock::now() + kLookout;
  while (waiting() && std::chrono::steady_clock::now() < until) {
#if defined(__i386__) || defined(__x86_64__)
    __asm__ __volatile__("pause");
#endif
  }
}

class Pool {
 public:
  // Runs the job on the caller and up to `helpers` helper threads.
  void run(int count, int helpers, void (*task)(void*, int), void* context) {
    helpers = startHelpers(helpers);
    {
      std::lock_guard<std::mutex> g(lock_);
      task_ = task;
      context_ = context;
      count_ = count;
      next_.store(0, std::memory_order_relaxed);
      openSlots_ = helpers;
      job_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_all();
    work();
    std::unique_lock<std::mutex> g(lock_);
    openSlots_ = 0;  // a helper that wakes late finds nothing left to join
    if (busy_.load(std::memory_order_relaxed) != 0) {
      // A helper still has its last band: it is likely done within a band's
      // time, sooner than a sleeping thread is woken. Look out for that
      // before sleeping.
      g.unlock();
      lookOut([this] { return busy_.load(std::memory_order_acquire) != 0; });
      g.lock();
      done_.wait(g, [this] { return busy_.load(std::memory_order_relaxed) == 0; });
    }
    // A task that threw (out of memory, say) fails the whole call on the
    // caller's thread, as it would have without helpers; only once every
    // helper has left the job, since the job lives on the caller's stack.
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  }

  void stop() {
    {
      std::lock_guard<std::mutex> g(lock_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
    stopping_ = false;
  }

 private:
  // Starts threads until there are `wanted`; returns how many there are.
  int startHelpers(int wanted) {
    while (int(threads_.size()) < wanted) {
      try {
        threads_.emplace_back(&Pool::helper, this);
      } catch (const std::system_error&) {
        break;  // run with the threads we have
      }
    }
    return int(threads_.size()) < wanted ? int(threads_.size()) : wanted;
  }

  void work() {
    for (int i = next_.fetch_add(1, std::memory_order_relaxed); i < count_;
         i = next_.fetch_add(1, std::memory_order_relaxed)) {
      try {
        task_(context_, i);
      } catch (...) {
        std::lock_guard<std::mutex> g(failureLock_);
        if (!failure_) failure_ = std::current_exception();
      }
    }
  }

  void helper() {
    std::unique_lock<std::mutex> g(lock_);
    uint64_t seen = 0;
    for (;;) {
      // A frame's passes follow one another within microseconds (Photo -
      // JPEG has two, with only its tables built between them), and waking
      // a sleeping thread costs about as much as a band: look out for the
      // next job for a moment before going to sleep.
      if (!stopping_ && job_.load(std::memory_order_relaxed) == seen) {
        g.unlock();
        lookOut([&] { return job_.load(std::memory_order_acquire) == seen; });
        g.lock();
      }
      wake_.wait(
          g, [&] { return stopping_ || (job_.load(std::memory_order_relaxed) != seen && openSlots_ > 0); });
      if (stopping_) return;
      seen = job_.load(std::memory_order_relaxed);
      --openSlots_;
      busy_.fetch_add(1, std::memory_order_relaxed);
      g.unlock();
      work();
      g.lock();
      // Release: the caller may see the count fall without taking the lock,
      // and must then see everything the bands wrote (a failure too).
      if (busy_.fetch_sub(1, std::memory_order_release) == 1) done_.notify_one();
    }
  }

  std::mutex lock_;
  std::condition_variable wake_, done_;
  std::vector<std::thread> threads_;
  void (*task_)(void*, int) = nullptr;
  void* context_ = nullptr;
  int count_ = 0;
  std::atomic<int> next_{0};
  int openSlots_ = 0;             // helpers that may still join the current job
  std::atomic<int> busy_{0};      // helpers inside the current job; changed under lock_
  std::atomic<uint64_t> job_{0};  // changed under lock_; read without it while looking out
  bool stopping_ = false;
  std::mutex failureLock_;  // tasks fail on any thread, outside lock_
  std::exception_ptr failure_;
};

// One job at a time: a second caller (or a task that itself runs tasks)
// works inline rather than waiting for the pool.
std::mutex poolOwner;
Pool* pool = nullptr;

void inlineRun(int count, void (*task)(void*, int), void* context) {
  for (int i = 0; i < count; ++i) task(context, i);
}

}  // namespace

int threadCount() {
  const int n = requestedThreads.load(std::memory_order_relaxed);
  return n > 0 ? n : processors();
}

void setThreadCount(int count) { requestedThreads.store(count > 0 ? count : 0, std::memory_order_relaxed); }

void stop() {
  std::lock_guard<std::mutex> owner(poolOwner);
  if (pool) pool->stop();
}

void runTasks(int count, uint64_t pixels, uint64_t inlineBelow, void (*task)(void*, int), void* context) {
  const int threads = threadCount();
  if (count <= 1 || threads <= 1 || pixels < inlineBelow) return inlineRun(count, task, context);
  std::unique_lock<std::mutex> owner(poolOwner, std::try_to_lock);
  if (!owner.owns_lock()) return inlineRun(count, task, context);
  if (!pool) pool = new Pool;
  const int helpers = (threads < count ? threads : count) - 1;
  pool->run(count, helpers, task, context);
}

}  // namespace qt::workers
