// The order of the window's lists (file list and category list): ascending,
// ignoring case, with Polish letters where a Polish reader expects them
// (a, ą, b, c, ć ... l, ł ...). Used by the window and the CLI alike.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace borvantel::text {

enum class TextKind {
  FileName,  // file-system bytes: UTF-8 where valid, otherwise Windows-1250
  Text,      // file contents: Windows-1250
};

// A byte string whose plain byte order is the list order. Items that collate
// equal (same text, other case) keep a fixed order by their raw bytes.
std::string listSortKey(std::string_view raw, TextKind kind);

bool listLess(std::string_view a, std::string_view b, TextKind kind);

// Sorts in list order; one sort key per item, so n log n memcmp calls.
void sortForList(std::vector<std::string>& items, TextKind kind);

}  // namespace borvantel::text
