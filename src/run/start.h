// The file work of the Start command: empty "inc_out.txt" and "inc_out1.txt",
// scan, automatic completion when "p_inc.txt" holds records, and the file
// list that is left for manual assignment.
#pragma once

#include "scan/scan.h"
#include "text/paths.h"

#include <cstddef>
#include <string>
#include <vector>

namespace borvantel::run {

struct StartResult {
  // What was done about a conversion that was interrupted in this base
  // directory before (empty: there was none). Polish UTF-8, for the user.
  std::string recovered;
  // The include files left for manual assignment, in list order.
  std::vector<std::string> fileList;
  // Nothing is left to assign (the flag wszystkie_inc_przypisane).
  bool wszystkie_inc_przypisane = false;
  // Include files passed over because their relative path cannot be recorded.
  std::vector<std::string> passedOver;
  scan::ScanResult scan;
  size_t autoAssigned = 0;
};

// Throws text::Failure naming the file and the reason when a step fails; the
// working files are then as the failed step left them (each is written whole
// or not at all), and a new Start begins again from scratch.
StartResult runStart(const text::RunPaths& paths);

// The message that names the files Start passed over, in UTF-8; at most
// `limit` names are listed, the rest are counted.
std::string passedOverMessage(const std::vector<std::string>& passedOver, size_t limit);

}  // namespace borvantel::run
