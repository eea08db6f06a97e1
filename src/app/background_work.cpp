#include "app/background_work.h"

#include "app/form3.h"
#include "app/qt_text.h"

#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

namespace borvantel::app {
namespace {

// The events on the working thread: the window asks for a file's name now
// and then, and a cancel stops the work at its next file.
class ThreadEvents : public run::ConversionEvents {
 public:
  void fileBegins(std::string_view label) override {
    if (cancelled_.load(std::memory_order_relaxed)) throw run::Cancelled();
    if (!wanted_.exchange(false, std::memory_order_acq_rel)) return;
    const std::lock_guard lock(mutex_);
    latest_.assign(label);
    fresh_ = true;
  }
  void cancel() noexcept { cancelled_.store(true, std::memory_order_relaxed); }
  // The name of the file at hand, when there is a new one since.
  bool take(std::string& label) {
    const std::lock_guard lock(mutex_);
    if (!fresh_) return false;
    label.swap(latest_);
    fresh_ = false;
    wanted_.store(true, std::memory_order_release);
    return true;
  }

 private:
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> wanted_{true};
  std::mutex mutex_;
  std::string latest_;
  bool fresh_ = false;
};

}  // namespace

void BackgroundWork::runWork(const std::function<void(run::ConversionEvents&)>& work) {
  ThreadEvents events;
  Form3 window;
  window.showReview();
  window.setWindowModality(Qt::ApplicationModal);
  QObject::connect(&window, &Form3::cancelRequested, &window, [&events] { events.cancel(); });
  window.show();

  QEventLoop loop;
  QTimer tick;
  tick.setInterval(50);
  std::string label;
  QObject::connect(&tick, &QTimer::timeout, &window, [&] {
    if (events.take(label)) window.setFileLabel(fromFileName(label));
  });
  tick.start();
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      work(events);
    } catch (...) {
      failure = std::current_exception();
    }
    QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace borvantel::app
