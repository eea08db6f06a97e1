// The scan of the scenery tree (wypisz_pliki): a breadth-first walk with the
// scenery directory's own files last, which classifies every include and
// scenery file into "p_inc.txt", "p_scn.txt" and "inc_out1.txt".
//
// Errors, for the scan layer: a failure is thrown as text::FileError, naming
// the directory or file and the reason.
#pragma once

#include "text/paths.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace borvantel::text {
class LineReader;
}

namespace borvantel::scan {

struct ScanResult {
  size_t needCategory = 0;  // lines written to "p_inc.txt"
  size_t sceneryFiles = 0;  // lines written to "p_scn.txt"
  size_t categorised = 0;   // lines written to "inc_out1.txt"
  // Include files whose relative path cannot stand in a two-field record (a
  // space, a "\" or a line end in a name): neither offered nor listed. Their
  // relative paths, "\" separated. On Windows also the files and directories
  // whose names Windows-1250 cannot hold (shown with "?"; a directory ends
  // with "\"): they cannot be named in a working file at all.
  std::vector<std::string> passedOver;
};

// Walks sciezka_katalogu + "scenery" and writes the three working files anew.
// Each output appears complete or not at all. Throws text::FileError when a
// directory or include file cannot be read, or an output cannot be written.
ScanResult wypisz_pliki(const text::RunPaths& paths);

// What reading an include file found.
struct IncludeExamination {
  enum class Kind {
    Header,         // a line containing "//$infotype:" (reading stopped there)
    FewMarkers,     // no header, fewer than three different markers
    NeedsCategory,  // no header, three or more different markers
  };
  Kind kind = Kind::FewMarkers;
  // For Header: the category when the header line holds exactly two words.
  std::optional<std::string> category;
};

// Reads an open include file line by line until its header or its end.
IncludeExamination examineInclude(text::LineReader& reader);
// Same, on text already in memory.
IncludeExamination examineIncludeText(std::string_view text);

// The category of a header line: its second word when, with runs of spaces
// collapsed and outer spaces removed, it has exactly two space-separated words.
std::optional<std::string> headerCategory(std::string_view line);

// The category of a text's header: of its first line holding "//$infotype:"
// (ignoring case), when that line is a header of two words (see
// headerCategory); nullopt when there is none, or it is of another shape.
// Only such a file is listed as carrying a category ("inc_out1.txt").
std::optional<std::string> headerCategoryOf(std::string_view text);

// What a name makes of a file: an include file (".inc"), a scenery file
// (".scn", ".scm", ".ctr"), or neither, ignoring case.
enum class NameKind { Include, Scenery, Other };
NameKind kindOfName(std::string_view name) noexcept;

// The walk of the scenery tree that the scan takes: breadth-first from
// `root`, each directory once (by device and inode, in case a mount loops
// back), the root's own files last; hidden entries and directories that the
// walk does not enter (see listDirectory) are left out. A missing root is an
// empty walk. Throws text::FileError when a directory cannot be listed.
struct TreeWalk {
  std::vector<std::string> directories;           // full paths, in walk order
  std::vector<std::vector<std::string>> filesOf;  // the plain files of each, in listing order
  std::vector<std::string> unmappable;            // full paths of names no working file can hold
};
TreeWalk walkTree(const std::string& root);

// Directory names and plain-file names of one directory, each sorted.
struct DirListing {
  std::vector<std::string> files;    // plain files, links to plain files included
  std::vector<std::string> subdirs;  // directories the walk enters
  std::vector<std::string> unmappable;  // names the code page cannot hold (Windows)
};
DirListing listDirectory(const std::string& dir);

}  // namespace borvantel::scan
