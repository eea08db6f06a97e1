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

namespace borvantel::text {

// The threads that `requested` means for `count` items: 0 is one per hardware
// thread; never more than there are items, never fewer than one.
inline unsigned threadsFor(unsigned requested, size_t count) {
  unsigned n = requested != 0 ? requested : std::max(1u, std::thread::hardware_concurrency());
  if (count < n) n = static_cast<unsigned>(std::max<size_t>(count, 1));
  return n;
}

class InOrder {
 public:
  // `threads` as threadsFor gives it.
  explicit InOrder(unsigned threads) : threads_(std::max(1u, threads)), window_(threads_ == 1 ? 1 : threads_ * 8) {}

  // Items prepared but not yet taken up are at most this many; item i uses
  // result slot i % slots(), so the caller keeps that many results, not one
  // per item.
  size_t slots() const noexcept { return window_; }
  unsigned threads() const noexcept { return threads_; }

  // Calls prepare(i, slot, worker) for every item i in [0, count), on a worker
  // thread (worker in [0, threads())), and take(i, slot, error) on the calling
  // thread in order of i, each after prepare(i, ...) has returned; `error` is
  // what prepare threw, or null. When take throws, no further item is begun
  // and the exception leaves run() once every worker has stopped. With one
  // thread everything happens on the calling thread, item by item.
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

    auto work = [&](unsigned worker) {
      for (;;) {
        const size_t k = next.fetch_add(1, std::memory_order_relaxed);
        if (k >= count) return;
        for (size_t t = taken.load(std::memory_order_acquire); k >= t + window_ && !stop.load();
             t = taken.load(std::memory_order_acquire)) {
          taken.wait(t, std::memory_order_acquire);
        }
        if (stop.load()) return;
        Slot& slot = slots[k % window_];
        try {
          prepare(k, k % window_, worker);
        } catch (...) {
          slot.error = std::current_exception();
        }
        slot.done.store(true, std::memory_order_release);
        slot.done.notify_one();
      }
    };

    std::vector<std::jthread> pool;
    pool.reserve(threads_);
    // Stops and joins the workers however run() ends.
    struct Joiner {
      std::vector<std::jthread>& pool;
      std::atomic<bool>& stop;
      std::atomic<size_t>& taken;
      ~Joiner() {
        stop.store(true);
        // A new value wakes a worker waiting for the window to move on.
        taken.store(static_cast<size_t>(-1) / 2, std::memory_order_release);
        taken.notify_all();
        pool.clear();
      }
    } joiner{pool, stop, taken};
    for (unsigned w = 0; w < threads_; ++w) pool.emplace_back(work, w);

    for (size_t i = 0; i < count; ++i) {
      Slot& slot = slots[i % window_];
      slot.done.wait(false, std::memory_order_acquire);
      const std::exception_ptr error = std::exchange(slot.error, nullptr);
      slot.done.store(false, std::memory_order_relaxed);
      take(i, i % window_, error);
      taken.store(i + 1, std::memory_order_release);
      taken.notify_all();
    }
  }

 private:
  unsigned threads_;
  size_t window_;
};

}  // namespace borvantel::text
