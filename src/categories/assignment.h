// Manual assignment: one file, or every listed file lying directly in one
// directory. Each assignment is appended to "inc_out.txt" at once.
#pragma once

#include "text/paths.h"

#include <string>
#include <string_view>
#include <vector>

namespace borvantel::categories {

// Appends "item category" to "inc_out.txt". Throws text::Failure when the
// record cannot be written (then nothing was written) or the category cannot
// stand in a record.
void przypisz_plik(const text::RunPaths& paths, std::string_view item, std::string_view category);

// The whole-directory assignment over `list` (in list order): every item lying
// directly in `target` (empty: the scenery directory itself; compared ignoring
// case) is assigned `category`, in list order, and removed from `list`.
// Returns the assigned items. One pass; on failure `list` and "inc_out.txt"
// are as before.
std::vector<std::string> przypisz_katalog(const text::RunPaths& paths, std::vector<std::string>& list,
                                          std::string_view target, std::string_view category);

// The items of "p_inc.txt" that have no line in "inc_out.txt" yet, in list order.
std::vector<std::string> pendingFiles(const text::RunPaths& paths);

}  // namespace borvantel::categories
