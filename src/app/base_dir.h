// File rules of the main window: whether Start may be used on a base
// directory, and the clean-up of the working files at close.
#pragma once

#include "text/paths.h"

#include <string>
#include <vector>

namespace borvantel::app {

// Start is usable when the base directory is not itself named "scenery" and
// one of its subdirectories' full paths contains "scenery", ignoring case.
bool spr_exist_scenery(const std::string& sciezka_katalogu);

// Full paths of the subdirectories of `dir` (without trailing separator), sorted.
std::vector<std::string> subdirectories(const std::string& dir);

// Removes "inc_out.txt", "inc_out1.txt", "p_inc.txt" and "p_scn.txt"; missing
// ones are no error. Goes on past a failure and then throws text::Failure
// naming every file that could not be removed.
void removeWorkingFiles(const text::RunPaths& paths);

}  // namespace borvantel::app
