// The conversion's promise, checked on random trees at the level the
// simulator reads: expanded as the simulator expands them, the scenery files
// read the same token streams before and after the conversion, except at the
// directives the conversion warned about. Besides: the converted bytes are
// those of the line rules applied one by one, the warnings are exactly the
// directives left without their category, and `check` on the converted tree
// reports exactly those warnings.
#include "categories/assignment.h"
#include "convert/assignment_table.h"
#include "convert/conversion.h"
#include "convert/include_file.h"
#include "convert/undo.h"
#include "run/check.h"
#include "run/start.h"
#include "support/scenery_reference.h"
#include "support/simulator.h"
#include "support/temp_tree.h"
#include "text/lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace borvantel {
namespace {

using testing::SceneryFiles;
using testing::TempTree;

// ------------------------------------------------------------ random trees

// A random scenery tree whose directives read as intended before the
// conversion: include files that will get a category, some with too few
// markers for one, some that carry a category from an earlier run (and are
// passed it), nested in each other without cycles, named in every form the
// line rule does and does not reach.
class RandomTree {
 public:
  explicit RandomTree(unsigned seed) : rng_(seed) {
    const int includes = between(4, 9);
    for (int i = 0; i < includes; ++i) includes_.push_back(newInclude(i));
    for (int i = includes - 1; i >= 0; --i) files_[includes_[i].path] = includeText(i);
    const int scenery = between(1, 3);
    static const char* const kExt[] = {".scn", ".scm", ".ctr"};
    for (int s = 0; s < scenery; ++s) {
      const std::string path = pick({"", "linie/", "a/"}) + "s" + std::to_string(s) + kExt[between(0, 2)];
      files_[path] = sceneryText();
    }
  }
  const SceneryFiles& files() const { return files_; }

 private:
  enum class Kind { Needs, Few, Header };
  struct Include {
    std::string path;
    Kind kind;
    int arity;  // parameters it reads (without the category of a Header)
    std::string category;
  };

  int between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool chance(int percent) { return between(1, 100) <= percent; }
  std::string pick(std::initializer_list<const char*> options) {
    return *(options.begin() + between(0, static_cast<int>(options.size()) - 1));
  }

  Include newInclude(int i) {
    const std::string dir = pick({"", "a/", "a/b/", "linie/"});
    // Appended: "i" + std::to_string(i) makes MinGW's GCC 12 warn falsely (-Wrestrict).
    std::string name = "i";
    name += std::to_string(i) + ".inc";
    if (chance(20)) std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    const int kind = between(0, 9);
    if (kind < 5) return {dir + name, Kind::Needs, between(3, 5), {}};
    if (kind < 8) return {dir + name, Kind::Few, between(0, 2), {}};
    return {dir + name, Kind::Header, between(1, 4), pick({"DRZEWA", "mosty", "Sem"})};
  }

  // A reference to parameter n (1-based, before the category of a Header).
  std::string reference(const Include& self, int n) {
    const int number = self.kind == Kind::Header ? n + 1 : n;
    return std::string(chance(15) ? "(P" : "(p") + std::to_string(number) + ")";
  }
  // What a directive inside `self` (or a scenery file, when null) passes.
  std::string value(const Include* self) {
    if (self && self->arity > 0 && chance(40)) return reference(*self, between(1, self->arity));
    return pick({"0.0", "1.5", "-3", "12", "tor", "7.25"});
  }

  std::string includeText(int i) {
    const Include& self = includes_[i];
    std::string text;
    if (self.kind == Kind::Header) text += "//$infotype: " + self.category + "\r\n";
    text += "// " + self.path + ": p1 = x, p2 = y\r\n";
    std::string refs;
    for (int n = 1; n <= self.arity; ++n) (refs += ' ') += reference(self, n);
    text += "node -1 0 obiekt model" + refs + " tex(p";
    text += std::to_string(self.kind == Kind::Header ? 2 : 1) + ").bmp\r\n";
    const int lines = between(0, 5);
    for (int k = 0; k < lines; ++k) text += bodyLine(&self, i + 1);
    return text;
  }
  std::string sceneryText() {
    std::string text = "// sceneria\r\n";
    const int lines = between(1, 10);
    for (int k = 0; k < lines; ++k) text += bodyLine(nullptr, 0);
    return text;
  }

  // A line of a file (of include file `self`, which may name only include
  // files from `from` on, so that nothing includes itself).
  std::string bodyLine(const Include* self, int from) {
    if (from >= static_cast<int>(includes_.size()) || chance(20)) {
      return pick({"origin 1 2 3\r\n", "// komentarz (p1)\r\n", "endorigin\r\n", "/* stare:\r\nnode 1\r\n*/\r\n",
                   "\r\n"});
    }
    const Include& target = includes_[between(from, static_cast<int>(includes_.size()) - 1)];
    return directive(self, from, target) + "\r\n";
  }

  // The file's name as a directive may spell it.
  std::string spelled(const Include& target) {
    std::string name = target.path;
    for (char& c : name) {
      if (c == '/' && chance(50)) c = '\\';
      if (chance(10)) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return name;
  }
  // A directive naming `target`, and perhaps also one of the include files
  // from `from` on.
  std::string directive(const Include* self, int from, const Include& target) {
    std::vector<std::string> args;
    if (target.kind == Kind::Header) args.push_back(std::string(target.category) + "_&type");
    for (int n = 0; n < target.arity; ++n) args.push_back(value(self));
    std::string joined;
    for (const std::string& a : args) joined += " " + a;
    const std::string name = spelled(target);
    switch (between(0, 11)) {
      case 0: {  // other separators
        std::string line = pick({"  ", "\t", ""}) + "include\t" + name;
        for (const std::string& a : args) line += pick({";", "\t", " ;"}) + a;
        return line + ";end";
      }
      case 1: return "include " + name + (args.empty() ? "" : " " + args[0]) + "\r\n" + joined + " end";
      case 2: return "include\r\n" + name + joined + " end";
      case 3: return "include " + name + " end";  // no parameters
      case 4: return "origin 0 0 0 include " + name + joined + " end";
      case 5: return "include " + name + joined + " end // uwaga; stara wersja";
      case 6: return "INCLUDE " + name + joined + " END";
      case 7: return "// include " + name + joined + " end";
      case 8: return "/* include " + name + joined + " end */";
      case 9: {  // another directive behind it
        const Include& other = includes_[between(from, static_cast<int>(includes_.size()) - 1)];
        if (other.kind == Kind::Header) break;
        return "include " + name + joined + " end include " + spelled(other) + " 1 end";
      }
      default: break;
    }
    return "include " + name + joined + " end";
  }

  std::mt19937 rng_;
  std::vector<Include> includes_;
  SceneryFiles files_;
};

// ------------------------------------------------- the rules one by one

struct WorkingFiles {
  std::vector<convert::AssignmentRow> incOut, incOut1;
  std::vector<std::string> pScn;  // relative to "scenery", "/" separated
};

WorkingFiles readWorkingFiles(const TempTree& tree) {
  WorkingFiles w;
  for (const char* name : {"inc_out.txt", "inc_out1.txt"}) {
    auto& rows = std::string(name) == "inc_out.txt" ? w.incOut : w.incOut1;
    convert::loadAssignments(tree.path(std::string("base/") + name), rows);
  }
  const std::string prefix = tree.path("base/scenery/");
  for (std::string line : testing::linesOf(tree.read("base/p_scn.txt"))) {
    line.erase(0, prefix.size());
    std::replace(line.begin(), line.end(), '\\', '/');
    w.pScn.push_back(line);
  }
  return w;
}

std::string slashed(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// The tree converted by the rules applied one by one: an include file of
// "inc_out.txt" gets its header, each line renumbered and then given the
// category of the file it names; the files of "p_scn.txt" and of
// "inc_out1.txt" get the scenery rule, and change only where a line converts.
SceneryFiles convertedByTheRules(const SceneryFiles& before, const WorkingFiles& w) {
  std::vector<convert::AssignmentRow> rows = w.incOut;
  rows.insert(rows.end(), w.incOut1.begin(), w.incOut1.end());
  const convert::AssignmentTable table(rows);
  SceneryFiles after = before;
  for (const convert::AssignmentRow& row : w.incOut) {
    std::string out;
    convert::appendHeader(row.category, out);
    for (const std::string& line : testing::linesOf(before.at(slashed(row.path)))) {
      std::string renumbered;
      convert::appendIncludeLine(line, renumbered);
      testing::referenceSceneryLine(table, renumbered, out);
      out += "\r\n";
    }
    after[slashed(row.path)] = out;
  }
  std::vector<std::string> scenery = w.pScn;
  for (const convert::AssignmentRow& row : w.incOut1) scenery.push_back(slashed(row.path));
  for (const std::string& file : scenery) {
    std::string out;
    bool converted = false;
    for (const std::string& line : testing::linesOf(before.at(file))) {
      converted |= testing::referenceSceneryLine(table, line, out) == convert::SceneryLine::Converted;
      out += "\r\n";
    }
    if (converted) after[file] = out;
  }
  return after;
}

// The directives of the converted tree that name a categorised file without
// passing it a category, read by the simulator's reading: "file:line".
std::set<std::string> unreachedByReading(const SceneryFiles& after, const WorkingFiles& w) {
  std::set<std::string> categorised;
  for (const auto* rows : {&w.incOut, &w.incOut1}) {
    for (const convert::AssignmentRow& row : *rows) categorised.insert(slashed(row.path));
  }
  std::set<std::string> found;
  for (const auto& [file, bytes] : after) {
    for (const testing::SimDirective& d : testing::simulatorDirectives(bytes)) {
      const std::string target = testing::findNamed(after, d.file);
      const bool passes = !d.parameters.empty() && text::containsIgnoreCase(d.parameters[0], "_&type");
      if (categorised.count(target) != 0 && !passes) found.insert(file + ":" + std::to_string(d.line));
    }
  }
  return found;
}

SceneryFiles sceneryOf(const TempTree& tree) {
  SceneryFiles files;
  for (const auto& [path, bytes] : tree.snapshot()) {
    if (path.starts_with("base/scenery/")) files[path.substr(13)] = bytes;
  }
  return files;
}

// ------------------------------------------------------------------ tests

TEST(Contract, TheSimulatorReadsTheSameSceneryAfterTheConversionExceptWhereItWarned) {
  const char* fixed = std::getenv("BORVANTEL_SEED");
  const unsigned first = fixed ? static_cast<unsigned>(std::strtoul(fixed, nullptr, 10)) : std::random_device{}();
  const unsigned trees = fixed ? 1 : 120;
  size_t warned = 0, nested = 0;
  for (unsigned n = 0; n < trees; ++n) {
    const unsigned seed = first + n;
    SCOPED_TRACE("BORVANTEL_SEED=" + std::to_string(seed));
    const RandomTree random(seed);
    const TempTree tree(TempTree::Where::InMemory);
    for (const auto& [path, bytes] : random.files()) tree.write("base/scenery/" + path, bytes);
    const text::RunPaths paths = tree.runPaths();
    run::runStart(paths);
    const std::vector<std::string> pending = categories::pendingFiles(paths);
    for (size_t k = 0; k < pending.size(); ++k) {
      categories::przypisz_plik(paths, pending[k], k % 2 ? "tory" : "Mosty");
    }
    const WorkingFiles working = readWorkingFiles(tree);
    const SceneryFiles before = sceneryOf(tree);

    convert::ConversionEvents events;
    const convert::ConversionResult result = convert::runConversion(paths, events);
    const SceneryFiles after = sceneryOf(tree);
    ASSERT_EQ(after, convertedByTheRules(before, working)) << "the bytes differ from the rules applied one by one";

    // The warnings: exactly the directives left without their category.
    std::set<std::string> warnings;
    std::set<std::pair<std::string, size_t>> skipAfter, skipBefore;
    std::set<std::string> header;  // got a header line in this conversion
    for (const convert::AssignmentRow& row : working.incOut) header.insert(slashed(row.path));
    for (const convert::ConversionWarning& w : result.warnings) {
      const std::string file = slashed(w.file.substr(8));  // without "scenery\"
      warnings.insert(file + ":" + std::to_string(w.line));
      skipAfter.insert({file, w.line});
      skipBefore.insert({file, w.line - header.count(file)});
    }
    EXPECT_EQ(warnings, unreachedByReading(after, working));
    warned += warnings.size();

    // As the simulator reads each scenery file, with its include files expanded.
    for (const auto& [file, bytes] : before) {
      if (file.ends_with(".inc") || file.ends_with(".INC")) continue;
      EXPECT_EQ(testing::simulatorStream(after, file, skipAfter), testing::simulatorStream(before, file, skipBefore))
          << file;
    }

    // check on the converted tree finds what the conversion warned about.
    std::set<std::string> findings;
    for (const run::Finding& f : run::checkTree(paths.sciezka_katalogu).findings) {
      findings.insert(slashed(f.file.substr(8)) + ":" + std::to_string(f.line));
    }
    EXPECT_EQ(findings, warnings);
    for (const auto& row : working.incOut) {
      nested += after.at(slashed(row.path)).find("_&type") != std::string::npos;
    }
    if (!result.changedFiles.empty()) {
      ASSERT_EQ(convert::undoConversion(paths).restoredFiles, result.changedFiles);
      ASSERT_EQ(sceneryOf(tree), before);
    }
  }
  if (trees > 1) {
    // The random trees reach what they are for.
    EXPECT_GT(warned, trees / 2);
    EXPECT_GT(nested, trees / 2);
  }
}

}  // namespace
}  // namespace borvantel
