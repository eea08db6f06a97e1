// Opening the files of a tree where they really are: a file by its name, a
// symbolic link where it points, so that a link rewritten stays a link and
// its target is rewritten once, however many names reach it.
#pragma once

#include "platform/os.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace borvantel::text {

// A listed file open for reading, as its new version must be written.
struct ResolvedFile {
  platform::Fd fd;
  std::string target;                 // its real path
  std::uint64_t directoryDevice = 0;  // the file system of its real directory
};

// Opens the files of a list, one after another; it remembers the real paths
// of the directories met (the files of one directory come together). One
// per thread.
class TreeFiles {
 public:
  // Opens `full`; throws FileError (opening `full`) when it cannot, ENOENT
  // and ENOTDIR where it is not there.
  ResolvedFile open(const std::string& full);

 private:
  struct RealDirectory {
    std::string real;  // with a separator
    std::uint64_t device;
  };
  ResolvedFile openLinked(const std::string& full);
  const RealDirectory& realDirectory(std::string_view dir, const std::string& full);

  std::unordered_map<std::string, RealDirectory> directories_;
  platform::Directory listedDir_;
};

}  // namespace borvantel::text
