// check: the tree read as the simulator will read it, every kind of finding
// on one small tree, read-only.
#include "run/check.h"
#include "support/temp_tree.h"
#include "text/files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace borvantel::run {
namespace {

using convert::DirectiveProblem;
using testing::TempTree;

void layOut(const TempTree& t) {
  t.write("base/scenery/h.inc", "//$infotype: TORY\r\nnode (p2) (p3)\r\ninclude brak2.inc end\r\n");
  t.write("base/scenery/p.inc", "node (p1) (p2) (p3)\r\n");
  t.write("base/scenery/m.inc", "//$infotype: TORY STARE\r\nnode (p2)\r\n");  // no header of the scan's shape
  t.write("base/scenery/sub/X.inc", "node (p1)\r\n");
  t.write("base/scenery/tekstury/a.bmp", "BM");
  t.write("base/scenery/a.scn",
          "include h.inc TORY_&type 1 2 end\r\n"  // 1: as converted
          "include h.inc 1 2 end\r\n"             // 2: no category
          "include h.inc end\r\n"                 // 3: no parameters
          "include h.inc\r\n 1 end\r\n"           // 4: runs on past its line
          "include p.inc tory_&type 1 end\r\n"    // 6: a category to a file without a header
          "include brak.inc 1 end\r\n"            // 7: no such file
          "include P.INC 1 2 3 end\r\n"           // 8: names compare ignoring case,
          "include SUB/x.inc 1 end\r\n"           // 9: with "/" or "\"
          "/* include brak.inc end */\r\n"        // 10: a comment
          "include tekstury\\a.bmp end\r\n"       // 11: any file counts as there
          "include m.inc 5 end\r\n");             // 12: its header is of no use to the tool
}

struct Seen {
  std::string file;
  size_t line;
  DirectiveProblem problem;
  std::string named;
  bool operator==(const Seen&) const = default;
};
void PrintTo(const Seen& s, std::ostream* os) {
  *os << s.file << ":" << s.line << " " << static_cast<int>(s.problem) << " " << s.named;
}

std::vector<Seen> seen(const CheckResult& result) {
  std::vector<Seen> out;
  for (const Finding& f : result.findings) out.push_back({f.file, f.line, f.problem, f.named});
  return out;
}

TEST(Check, FindsEveryKindAndChangesNothingWhateverTheThreads) {
  const TempTree t;
  layOut(t);
  const auto before = t.snapshot();
  using P = DirectiveProblem;
  const std::vector<Seen> want = {
      {"scenery\\a.scn", 2, P::NoCategory, "h.inc"},
      {"scenery\\a.scn", 3, P::NoParameters, "h.inc"},
      {"scenery\\a.scn", 4, P::Split, "h.inc"},
      {"scenery\\a.scn", 6, P::CategoryWithoutHeader, "p.inc"},
      {"scenery\\a.scn", 7, P::MissingFile, "brak.inc"},
      {"scenery\\h.inc", 3, P::MissingFile, "brak2.inc"},
  };
  for (const unsigned threads : {1u, 3u}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    const CheckResult result = checkTree(t.path("base"), threads);
    EXPECT_EQ(seen(result), want);
    EXPECT_EQ(result.filesRead, 5u);  // the four include files and a.scn
    EXPECT_EQ(result.directives, 11u);
  }
  EXPECT_EQ(t.snapshot(), before) << "check wrote or changed a file";
  EXPECT_EQ(findingText(checkTree(t.path("base")).findings[3]),
            "scenery\\a.scn:6: dyrektywa include przekazuje kategorię plikowi „p.inc”, który nie ma nagłówka "
            "//$infotype:: plik odczyta parametry o jedno miejsce wcześniej");
  EXPECT_EQ(checkSummary(checkTree(t.path("base"))), "Sprawdzono plików: 5, dyrektyw include: 11, uwag: 6.");
}

// Lines passed over in one step are counted whatever ends them.
TEST(Check, LineNumbersHoldForEveryKindOfLineEnd) {
  const TempTree t;
  t.write("base/scenery/h.inc", "//$infotype: TORY\r\n");
  std::string scn;
  for (int i = 0; i < 40; ++i) scn += i % 3 == 0 ? "node 1\r\n" : i % 3 == 1 ? "node 2\n" : "node 3\r";
  scn += "include h.inc 1 end\r\n";          // line 41
  scn += "\r\n\n\r";                         // lines 42 to 44, empty
  scn += "/* include h.inc 2 end\r\n*/ x\n";  // a comment, over lines 45 and 46
  scn += "include h.inc 3 end";                // line 47, without a line end
  t.write("base/scenery/a.scn", scn);
  std::vector<size_t> lines;
  for (const Finding& f : checkTree(t.path("base")).findings) lines.push_back(f.line);
  EXPECT_EQ(lines, (std::vector<size_t>{41, 47}));
}

TEST(Check, ABaseWithoutASceneryDirectoryOrThatCannotBeReadIsRefused) {
  const TempTree t;
  t.mkdir("base");
  EXPECT_THROW(checkTree(t.path("base")), text::Failure);
  EXPECT_THROW(checkTree(t.path("brak")), text::Failure);
  t.write("base/scenery/a.scn", "include b.inc end\r\n");
  testing::FailingOs os;
  os.fail({testing::FailingOs::Call::Open, EACCES, "a.scn"});
  const platform::ScopedOs guard(os);
  try {
    checkTree(t.path("base"));
    ADD_FAILURE() << "an unreadable file was passed over";
  } catch (const text::FileError& e) {
    EXPECT_NE(e.path().find("a.scn"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace borvantel::run
