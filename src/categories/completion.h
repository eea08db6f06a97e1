// Automatic completion (automatycznie_uzupelnij_inc): include files named in
// "p_inc.txt" whose file name matches "predef.txt" get that category in
// "inc_out.txt"; the rest stay in "p_inc.txt", now as relative paths.
#pragma once

#include "text/paths.h"

#include <cstddef>

namespace borvantel::categories {

struct CompletionResult {
  size_t assigned = 0;  // lines appended to "inc_out.txt"
  size_t left = 0;      // lines of the new "p_inc.txt"
};

// "p_inc.txt" is replaced only after "p_inc1.txt" is complete, by one rename,
// so it is never lost. Throws text::Failure on a malformed line or a failed
// file operation; then "p_inc.txt" and "inc_out.txt" are as before and no
// "p_inc1.txt" is left.
CompletionResult automatycznie_uzupelnij_inc(const text::RunPaths& paths);

}  // namespace borvantel::categories
