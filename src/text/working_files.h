// The working files that carry a run's results from step to step, all in the
// base directory, and the two files of the program directory.
#pragma once

#include <string_view>

namespace borvantel::text {

inline constexpr std::string_view kPInc = "p_inc.txt";        // include files that need a category
inline constexpr std::string_view kPInc1 = "p_inc1.txt";      // the same, while completion rewrites it
inline constexpr std::string_view kPScn = "p_scn.txt";        // files whose "include" lines get rewritten
inline constexpr std::string_view kIncOut1 = "inc_out1.txt";  // include files with a category header
inline constexpr std::string_view kIncOut = "inc_out.txt";    // categories assigned in this run
inline constexpr std::string_view kJournal = ".borvantel-journal";  // an unfinished conversion

inline constexpr std::string_view kKategorie = "kategorie.txt";
inline constexpr std::string_view kPredef = "predef.txt";

}  // namespace borvantel::text
