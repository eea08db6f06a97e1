// How a conversion reports its progress. The window implements it with its
// progress window; the command line and the benchmarks use NullProgress.
#pragma once

#include <string_view>

namespace borvantel::convert {

// Each phase (include files, then scenery files) calls, per file in turn,
// setFileLabel, then show() at its first file only, then processEvents();
// close() follows the phase's last file, also when the phase ends in a failure.
// A phase without files calls nothing. close() must not throw.
class ConversionProgress {
 public:
  virtual ~ConversionProgress() = default;
  // Raw bytes: the relative path ("\" separated) of an include file, the full
  // path of a scenery file.
  virtual void setFileLabel(std::string_view label) = 0;
  virtual void show() = 0;
  virtual void close() noexcept = 0;
  // Lets pending window events run, so that the progress window repaints.
  virtual void processEvents() = 0;
};

class NullProgress final : public ConversionProgress {
 public:
  void setFileLabel(std::string_view) override {}
  void show() override {}
  void close() noexcept override {}
  void processEvents() override {}
};

}  // namespace borvantel::convert
