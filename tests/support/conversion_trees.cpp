#include "support/conversion_trees.h"

#include "categories/assignment.h"
#include "run/start.h"

#include <algorithm>
#include <random>

namespace borvantel::convert {

using testing::TempTree;

// Start, and every waiting file assigned to "most".
void startAndAssignAll(const text::RunPaths& paths) {
  run::runStart(paths);
  std::vector<std::string> list = categories::pendingFiles(paths);
  while (!list.empty()) {
    const std::string dir(text::directoryPartOf(list.front()));
    categories::przypisz_katalog(paths, list, dir, "most");
  }
}

// A small tree after Start and the assignment of every waiting file to "most".
void prepareTree(const TempTree& tree, const std::string& base) {
  tree.write(base + "/scenery/tory/most1.inc", kMost);
  tree.write(base + "/scenery/tory/inny.inc", "origin 0 0 0\r\n");
  tree.write(base + "/scenery/tory/stacja.scn", kStacja);
  tree.write(base + "/scenery/obiekty/dom.inc", "//$infotype: Budynki\r\nnode (p1) (p2) (p3)\r\n");
  tree.write(base + "/scenery/obiekty/plot.inc", "a (p1) (p2) (p3)");
  tree.write(base + "/scenery/main.scn", "include obiekty/dom.inc 1 2 end\ninclude tory/most1.inc 5 6 end\n");
  tree.write(base + "/scenery/pusty.scn", "x");
  startAndAssignAll(text::RunPaths::make(tree.path("prog"), tree.path(base)));
}

// A tree of a few hundred files in which the same file is reached under
// several names and include files are also listed as scenery files: what the
// threads could get wrong if they were not taken up in order.
void prepareBusyTree(const TempTree& tree) {
  std::mt19937 rng(7);
  for (int d = 0; d < 12; ++d) {
    for (int f = 0; f < 30; ++f) {
      const std::string name = "base/scenery/d" + std::to_string(d) + "/f" + std::to_string(f);
      std::string text = (f % 3 == 0) ? std::string(kMost) : std::string();
      for (int k = 0; k < 20; ++k) {
        text += "include d" + std::to_string(rng() % 12) + "/f" + std::to_string(rng() % 30 / 3 * 3) +
                ".inc " + std::to_string(k) + " end\r\n";
      }
      tree.write(name + (f % 3 == 0 ? ".inc" : ".scn"), text);
    }
  }
  // One file under two names: a link on Linux, a copy on Windows (where
  // making a link takes a privilege).
  const auto secondName = [&](const std::string& target, const std::string& name) {
#ifdef _WIN32
    tree.write("base/scenery/" + name, tree.read("base/scenery/" + target));
#else
    tree.symlink("../" + target, "base/scenery/" + name);
#endif
  };
  secondName("d0/f0.inc", "d1/link.inc");  // one file, two include names
  secondName("d2/f3.inc", "d3/widok.scn");  // an include file as a scenery file
  secondName("d4/f1.scn", "d5/drugi.scn");  // one scenery file, two names
  tree.write("base/scenery/d6/krotki.scn", "x");
  // The working files as Start and a whole-tree assignment would leave them,
  // written directly: this tree is laid out many times.
  std::string incOut;
  std::string pScn;
  for (const auto& [name, bytes] : tree.snapshot()) {
    const std::string rel = name.substr(std::string("base/scenery/").size());
    if (name.ends_with(".inc") && rel.find('/') != std::string::npos) {
      std::string item = rel;
      std::replace(item.begin(), item.end(), '/', '\\');
      incOut += item + " kat" + rel.substr(1, rel.find('/') - 1) + "\r\n";
    } else if (name.ends_with(".scn")) {
      pScn += tree.path(name) + "\r\n";
    }
  }
  pScn += tree.path("base/scenery/d3/widok.scn") + "\r\n";
  tree.write("base/inc_out.txt", incOut);
  tree.write("base/p_scn.txt", pScn);
}

}  // namespace borvantel::convert
