// The file work of the Start command: empty "inc_out.txt" and "inc_out1.txt",
// scan, automatic completion when "p_inc.txt" holds records, and what the
// window needs afterwards.
#pragma once

#include "scan/scan.h"
#include "text/paths.h"

#include <cstddef>
#include <string>
#include <vector>

namespace borvantel::scan {

struct StartResult {
  // The include files left for manual assignment, in list order.
  std::vector<std::string> fileList;
  // Nothing is left to assign (the flag wszystkie_inc_przypisane).
  bool wszystkie_inc_przypisane = false;
  // Include files passed over because their relative path cannot be recorded.
  std::vector<std::string> passedOver;
  ScanResult scan;
  size_t autoAssigned = 0;
};

// Throws text::Failure naming the file and the reason when a step fails.
StartResult runStart(const text::RunPaths& paths);

}  // namespace borvantel::scan
