// Work of the run on a thread of its own, while the interface thread shows
// the progress window (with its cancel button) and stays responsive: for a
// review of a large tree, which reads every file. The work must leave the
// run's state alone meanwhile (Run::review reads only its paths).
#pragma once

#include "run/run.h"

#include <functional>
#include <optional>
#include <utility>

namespace borvantel::app {

class BackgroundWork {
 public:
  // Runs work(events) and returns what it returned; rethrows what it threw
  // (run::Cancelled when the user cancelled). The progress window is
  // application-modal until the work has ended.
  template <typename Result>
  static Result run(const std::function<Result(run::ConversionEvents&)>& work) {
    std::optional<Result> result;
    runWork([&](run::ConversionEvents& events) { result.emplace(work(events)); });
    return std::move(*result);
  }

 private:
  static void runWork(const std::function<void(run::ConversionEvents&)>& work);
};

}  // namespace borvantel::app
