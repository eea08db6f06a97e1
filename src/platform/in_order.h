// Work on many independent items on several threads, with the results taken
// up on the calling thread one by one in item order, so that whatever the
// caller does with them (progress, the first failure, the order of its output)
// is the same as if every item had been done there in turn.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <condition_variable>
#include <mutex>
#endif

namespace borvantel::platform {

// The threads that `requested` means for `count` items: 0 is one per hardware
// thread; never more than there are items, never fewer than one.
inline unsigned threadsFor(unsigned requested, size_t count) {
  unsigned n = requested != 0 ? requested : std::max(1u, std::thread::hardware_concurrency());
  if (count < n) n = static_cast<unsigned>(std::max<size_t>(count, 1));
  return n;
}

// Sleeping until another thread changes an atomic value. std::atomic's own
// wait where the library waits on a futex; libstdc++ 12 without one (MinGW-w64
// on Windows) can lose a notification between its check and its sleep, and
// the wait never ends, so there a mutex and a condition variable stand in.
class Waker {
 public:
  template <typename T>
  void waitWhile(const std::atomic<T>& value, T old) {
#ifdef _WIN32
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return value.load(std::memory_order_acquire) != old; });
#else
    value.wait(old, std::memory_order_acquire);
#endif
  }
  // After a store to `value`: wakes every thread waiting for it.
  template <typename T>
  void notifyAll(std::atomic<T>& value) {
#ifdef _WIN32
    { const std::lock_guard lock(mutex_); }  // a waiter is either asleep or yet to check
    (void)value;
    changed_.notify_all();
#else
    value.notify_all();
#endif
  }
  // The same for one waiting thread (every thread where the waiters share one
  // condition variable).
  template <typename T>
  void notifyOne(std::atomic<T>& value) {
#ifdef _WIN32
    notifyAll(value);
#else
    value.notify_one();
#endif
  }

 private:
#ifdef _WIN32
  std::mutex mutex_;
  std::condition_variable changed_;
#endif
};

class InOrder {
 public:
  // `threads` as threadsFor gives it.
  explicit InOrder(unsigned threads) : threads_(std::max(1u, threads)), window_(threads_ == 1 ? 1 : threads_ * 8) {}

  // Items prepared but not yet taken up are at most this many; item i uses
  // result slot i % slots(), so the caller keeps that many results, not one
  // per item.
  size_t slots() const noexcept { return window_; }
  unsigned threads() const noexcept { return threads_; }

  // Calls prepare(i, slot, worker) for every item i in [0, count), on one of
  // threads() threads (worker in [0, threads()), 0 being the calling thread),
  // and take(i, slot, error) on the calling thread in order of i, each after
  // prepare(i, ...) has returned; `error` is what prepare threw, or null.
  // When take throws, no further item is begun and the exception leaves run()
  // once every worker has stopped. With one thread everything happens on the
  // calling thread, item by item.
  template <typename Prepare, typename Take>
  void run(size_t count, Prepare&& prepare, Take&& take) {
    if (threads_ == 1) {
      for (size_t i = 0; i < count; ++i) {
        std::exception_ptr error;
        try {
          prepare(i, size_t{0}, 0u);
        } catch (...) {
          error = std::current_exception();
        }
        take(i, size_t{0}, error);
      }
      return;
    }

    struct Slot {
      std::atomic<bool> done{false};
      std::exception_ptr error;
    };
    std::unique_ptr<Slot[]> slots(new Slot[window_]);
    std::atomic<size_t> next{0};
    std::atomic<size_t> taken{0};  // items taken up; item k may begin once k < taken + window_
    std::atomic<bool> stop{false};
    Waker waker;

    auto prepareInto = [&](size_t k, unsigned worker) {
      Slot& slot = slots[k % window_];
      try {
        prepare(k, k % window_, worker);
      } catch (...) {
        slot.error = std::current_exception();
      }
      slot.done.store(true, std::memory_order_release);
    };
    auto work = [&](unsigned worker) {
      for (;;) {
        const size_t k = next.fetch_add(1, std::memory_order_relaxed);
        if (k >= count) return;
        for (size_t t = taken.load(std::memory_order_acquire); k >= t + window_ && !stop.load();
             t = taken.load(std::memory_order_acquire)) {
          waker.waitWhile(taken, t);
        }
        if (stop.load()) return;
        prepareInto(k, worker);
        waker.notifyOne(slots[k % window_].done);
      }
    };

    std::vector<std::jthread> pool;
    pool.reserve(threads_ - 1);
    // Stops and joins the workers however run() ends.
    struct Joiner {
      std::vector<std::jthread>& pool;
      std::atomic<bool>& stop;
      std::atomic<size_t>& taken;
      Waker& waker;
      ~Joiner() {
        stop.store(true);
        // A new value wakes a worker waiting for the window to move on.
        taken.store(static_cast<size_t>(-1) / 2, std::memory_order_release);
        waker.notifyAll(taken);
        pool.clear();
      }
    } joiner{pool, stop, taken, waker};
    for (unsigned w = 1; w < threads_; ++w) pool.emplace_back(work, w);

    // The calling thread is worker 0: while the item it must take next is not
    // ready it prepares one of its own, and sleeps only when the window is
    // full, so that no thread just waits on another's behalf.
    for (size_t i = 0; i < count;) {
      Slot& slot = slots[i % window_];
      if (slot.done.load(std::memory_order_acquire)) {
        const std::exception_ptr error = std::exchange(slot.error, nullptr);
        slot.done.store(false, std::memory_order_relaxed);
        take(i, i % window_, error);
        taken.store(++i, std::memory_order_release);
        waker.notifyAll(taken);
        continue;
      }
      size_t k = next.load(std::memory_order_relaxed);
      if (k < count && k < i + window_) {
        if (next.compare_exchange_weak(k, k + 1, std::memory_order_relaxed)) prepareInto(k, 0);
        continue;
      }
      waker.waitWhile(slot.done, false);
    }
  }

 private:
  unsigned threads_;
  size_t window_;
};

}  // namespace borvantel::platform
