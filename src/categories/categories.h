// The category list ("kategorie.txt" in the program directory) and the file
// list of include files waiting for a category ("p_inc.txt").
//
// Errors, for the whole categories layer: a failure or a refusal is thrown as
// text::Failure (text::FileError where a file is named), and each function
// says what it leaves behind then.
#pragma once

#include "text/paths.h"

#include <string>
#include <string_view>
#include <vector>

namespace borvantel::categories {

// The name offered for a file whose category is not defined.
inline constexpr std::string_view kBrakDefinicji = "BRAK_DEFINICJI";

// The names of "kategorie.txt" in file order: every space becomes "_", empty
// lines are skipped, case is kept. Missing or shorter than 2 bytes: none.
std::vector<std::string> wypelnij_liste_kategorii(const text::RunPaths& paths);

// The category list as it stands after Start: the names plus BRAK_DEFINICJI,
// in list order.
std::vector<std::string> categoryListAfterStart(const text::RunPaths& paths);

// A typed name made a category name: spaces to "_", upper case (whole code page).
std::string categoryNameFromTyped(std::string_view typed);

// The add command: appends the name made from `typed` to "kategorie.txt"
// (created if missing) and returns it. Throws text::Failure for an empty name
// or a failed write; then the file is as before.
std::string dopisz_kategorie(const text::RunPaths& paths, std::string_view typed);

// The lines of "p_inc.txt", in list order (the items of the file list).
std::vector<std::string> wypelnij_liste_inc(const text::RunPaths& paths);

}  // namespace borvantel::categories
