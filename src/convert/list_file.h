// The one format of the conversion's own lists, the journal's renames and the
// undo set's manifest: a header line, then each entry as its fields, every
// field ending in a NUL byte (a path may hold any other byte), then "END ",
// the number of entries and "\n". A list without that whole trailer, or whose
// count disagrees with its entries, was never finished.
#pragma once

#include "text/files.h"

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace borvantel::convert {

// Writes a list to a temporary file beside `path` and puts it in place by
// one rename; until then `path` is untouched.
class ListWriter {
 public:
  // `log` is told the temporary file's name before it is created.
  ListWriter(const std::string& path, std::string_view header, text::TempFileLog* log = nullptr);
  // One entry, its fields in order.
  void add(std::initializer_list<std::string_view> fields);
  // The trailer, then the file flushed (fsync) and closed.
  void finish();
  // Puts the finished list in place of `path`.
  void replaceTarget();

 private:
  text::AtomicFile file_;
  std::string entry_;
  size_t count_ = 0;
};

// Reads the list in `data`, calling entry(fields) for each entry in order (the
// views stay valid while `data` does), and returns whether the list is whole:
// false for another header, an entry cut short, or a trailer that is missing
// or counts other than the entries read. Stops at the first entry cut short.
bool readList(std::string_view data, std::string_view header, size_t fieldsPerEntry,
              const std::function<void(const std::vector<std::string_view>&)>& entry);

}  // namespace borvantel::convert
