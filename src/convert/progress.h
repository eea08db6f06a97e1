// What a conversion tells its caller while it works: a phase with files to
// take up begins, it takes up each file in turn, it ends. The bodies do
// nothing by default, so a caller overrides only what it needs; the window
// turns these events into its progress window, the command line ignores them.
#pragma once

#include <cstddef>
#include <string_view>

namespace borvantel::convert {

enum class ConversionPhase {
  IncludeFiles,  // zmiana_inc: the include files of "inc_out.txt"
  SceneryFiles,  // zmiana_scn: the files of "p_scn.txt"
  Undo,          // the originals of the last conversion put back
};

// Each phase that has files calls phaseBegins once, fileBegins before each
// file, and phaseEnds once after its last file or when it fails. A phase
// without files calls nothing. Events may throw (to cancel the run) except
// phaseEnds.
class ConversionEvents {
 public:
  virtual ~ConversionEvents() = default;
  // `files`: how many files the phase will take up.
  virtual void phaseBegins(ConversionPhase /*phase*/, size_t /*files*/) {}
  // Raw bytes: the relative path ("\" separated) of an include file, the full
  // path of a scenery file (also of one that turns out to need no change);
  // undo: the path relative to the base directory of the file put back.
  virtual void fileBegins(std::string_view /*label*/) {}
  virtual void phaseEnds(ConversionPhase /*phase*/) noexcept {}
};

}  // namespace borvantel::convert
