// Saving the run's assignments to "predef.txt" as exact file names.
#pragma once

#include "text/paths.h"

#include <cstddef>

namespace borvantel::categories {

// Appends, for every line of "inc_out.txt" with exactly two space-separated
// fields, its file name (no directory), a space and its category to
// "predef.txt" in one write. Returns the number of lines appended. A missing
// or nearly empty "inc_out.txt" appends nothing. Throws text::Failure when
// "predef.txt" cannot be written; then it is as before.
size_t zapisz_predef(const text::RunPaths& paths);

}  // namespace borvantel::categories
