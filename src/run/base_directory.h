// The base directory of a run: the entries the directory list shows, whether
// Start may be used there, whether it can be worked in at all, and the
// clean-up of the working files when the window is closed.
#pragma once

#include "text/paths.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace borvantel::run {

// Full paths (without trailing separator) of the subdirectories of `dir`, in
// list order: the entries of the directory list. Links to directories count,
// as the list shows them. A directory that cannot be listed has none.
std::vector<std::string> subdirectories(const std::string& dir);

// spr_exist_scenery: Start is usable when the base directory is not itself
// named "scenery" and one of `entries` (the full paths of its subdirectories,
// in list order) contains "scenery" anywhere, all ignoring case.
bool spr_exist_scenery(std::string_view sciezka_katalogu, const std::vector<std::string>& entries);

// Throws text::Failure with a message of its own when `dir` does not exist, is
// not a directory or cannot be listed.
void checkBaseDirectory(const std::string& dir);

// Whether `dir` can be worked in: checkBaseDirectory without its message.
bool opensAsBaseDirectory(const std::string& dir);

// The directory choice's memory of volumes: picking a volume reopens the
// directory last opened on it, or else the volume's root.
class LastDirectories {
 public:
  // `dir` was opened; `volume` is the root of the volume that holds it.
  void opened(const std::string& volume, const std::string& dir);
  // Where a pick of `volume` goes: the directory last opened on it while it
  // can still be opened, else the volume's root when that can; nullopt when
  // neither can (the drive is not ready).
  std::optional<std::string> directoryFor(const std::string& volume) const;

 private:
  std::map<std::string, std::string> lastOn_;  // volume root -> last directory opened on it
};

// Removes "inc_out.txt", "inc_out1.txt", "p_inc.txt" and "p_scn.txt"; missing
// ones are no error. Goes on past a failure and then throws text::Failure
// naming every file that could not be removed.
void removeWorkingFiles(const text::RunPaths& paths);

}  // namespace borvantel::run
