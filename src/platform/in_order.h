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
#include <type_traits>
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
      inTurn(count, prepare, take);
      return;
    }
    Round<std::remove_reference_t<Prepare>, std::remove_reference_t<Take>> round(count, window_, prepare, take);
    std::vector<std::jthread> pool;
    pool.reserve(threads_ - 1);
    // Stops and joins the workers however run() ends.
    struct Joiner {
      Round<std::remove_reference_t<Prepare>, std::remove_reference_t<Take>>& round;
      std::vector<std::jthread>& pool;
      ~Joiner() {
        round.stop();
        pool.clear();
      }
    } joiner{round, pool};
    for (unsigned w = 1; w < threads_; ++w) pool.emplace_back([&round, w] { round.work(w); });
    round.takeInOrder();
  }

 private:
  template <typename Prepare, typename Take>
  static void inTurn(size_t count, Prepare& prepare, Take& take) {
    for (size_t i = 0; i < count; ++i) {
      std::exception_ptr error;
      try {
        prepare(i, size_t{0}, 0u);
      } catch (...) {
        error = std::current_exception();
      }
      take(i, size_t{0}, error);
    }
  }

  // What the threads of one run() share. Item k may begin once it lies within
  // the window, k < taken + window; its slot is k % window.
  template <typename Prepare, typename Take>
  class Round {
   public:
    Round(size_t count, size_t window, Prepare& prepare, Take& take)
        : count_(count), window_(window), slots_(new Slot[window]), prepare_(prepare), take_(take) {}

    // A worker thread: the next item not yet begun, while there is one.
    void work(unsigned worker) {
      for (;;) {
        const size_t k = next_.fetch_add(1, std::memory_order_relaxed);
        if (k >= count_) return;
        for (size_t t = taken_.load(std::memory_order_acquire); k >= t + window_ && !stop_.load();
             t = taken_.load(std::memory_order_acquire)) {
          waker_.waitWhile(taken_, t);
        }
        if (stop_.load()) return;
        prepareInto(k, worker);
        waker_.notifyOne(slots_[k % window_].done);
      }
    }

    // The calling thread is worker 0: while the item it must take next is not
    // ready it prepares one of its own, and sleeps only when the window is
    // full, so that no thread just waits on another's behalf.
    void takeInOrder() {
      for (size_t i = 0; i < count_;) {
        Slot& slot = slots_[i % window_];
        if (slot.done.load(std::memory_order_acquire)) {
          const std::exception_ptr error = std::exchange(slot.error, nullptr);
          slot.done.store(false, std::memory_order_relaxed);
          take_(i, i % window_, error);
          taken_.store(++i, std::memory_order_release);
          waker_.notifyAll(taken_);
          continue;
        }
        size_t k = next_.load(std::memory_order_relaxed);
        if (k < count_ && k < i + window_) {
          if (next_.compare_exchange_weak(k, k + 1, std::memory_order_relaxed)) prepareInto(k, 0);
          continue;
        }
        waker_.waitWhile(slot.done, false);
      }
    }

    // No further item is begun; a worker waiting for the window wakes.
    void stop() {
      stop_.store(true);
      // A new value wakes a worker waiting for the window to move on.
      taken_.store(static_cast<size_t>(-1) / 2, std::memory_order_release);
      waker_.notifyAll(taken_);
    }

   private:
    struct Slot {
      std::atomic<bool> done{false};
      std::exception_ptr error;
    };

    void prepareInto(size_t k, unsigned worker) {
      Slot& slot = slots_[k % window_];
      try {
        prepare_(k, k % window_, worker);
      } catch (...) {
        slot.error = std::current_exception();
      }
      slot.done.store(true, std::memory_order_release);
    }

    const size_t count_;
    const size_t window_;
    std::unique_ptr<Slot[]> slots_;
    Prepare& prepare_;
    Take& take_;
    std::atomic<size_t> next_{0};
    std::atomic<size_t> taken_{0};  // items taken up
    std::atomic<bool> stop_{false};
    Waker waker_;
  };

  unsigned threads_;
  size_t window_;
};

}  // namespace borvantel::platform
