// bench_window: what the window adds to the core on large lists, under the
// offscreen platform. Lays out a tree whose include files all wait for a
// category (one directory of --dir-files of them, the rest spread out) and
// times, each as a real click on the window against the same work on the run
// alone:
//   - Start, with the file list filled;
//   - the whole-directory assignment of the large directory;
//   - the conversion with its progress window.
//
//   bench_window [--files N] [--dir-files M] [--keep] DIR
#include "app/form1.h"
#include "app/form3.h"
#include "run/run.h"

#include <QApplication>
#include <QListView>
#include <QPushButton>
#include <QtTest/QTest>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace {

namespace fs = std::filesystem;

double seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void write(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

// A base directory with `files` include files that need a category, the
// first `dirFiles` of them in "duzy", and a scenery file naming some of them.
void layOut(const fs::path& base, size_t files, size_t dirFiles) {
  const std::string body = "// p1 = x, p2 = y, p3 = z\r\norigin (p1) (p2) (p3)\r\nnode -1 0 a model 0 0 0 0 a.obj none\r\n";
  std::string scenery;
  for (size_t i = 0; i < files; ++i) {
    char name[64];
    if (i < dirFiles) {
      std::snprintf(name, sizeof name, "duzy/p%06zu.inc", i);
    } else {
      std::snprintf(name, sizeof name, "k%03zu/p%06zu.inc", i % 100, i);
    }
    write(base / "scenery" / name, body);
    if (i % 10 == 0) scenery += std::string("include ") + name + " 1 2 3 end\r\n";
  }
  write(base / "scenery" / "trasa.scn", scenery);
}

void click(borvantel::app::Form1& form, const char* button) {
  QTest::mouseClick(form.findChild<QPushButton*>(button), Qt::LeftButton);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  size_t files = 50000;
  size_t dirFiles = 20000;
  bool keep = false;
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--files" && i + 1 < argc) {
      files = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--dir-files" && i + 1 < argc) {
      dirFiles = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--keep") {
      keep = true;
    } else {
      dir = arg;
    }
  }
  if (dir.empty() || dirFiles > files) {
    std::fprintf(stderr, "usage: bench_window [--files N] [--dir-files M] [--keep] DIR\n");
    return 2;
  }
  const fs::path root = fs::absolute(dir);
  for (const char* part : {"prog", "window", "core"}) fs::remove_all(root / part);  // a run cut short
  const fs::path prog = root / "prog";
  fs::create_directories(prog);
  std::ofstream(prog / "kategorie.txt", std::ios::binary) << "AUTA\r\nMOSTY\r\n";
  std::printf("%zu include files waiting, %zu of them in one directory\n", files, dirFiles);
  layOut(root / "window", files, dirFiles);
  fs::copy(root / "window", root / "core", fs::copy_options::recursive);

  // The run alone.
  borvantel::run::Run core(prog.string(), (root / "core").string());
  const double coreStart = seconds([&] { core.start(); });
  core.selectFile(core.fileIndex("duzy/p000000.inc"));
  const double coreDir = seconds([&] { core.assignWholeDirectory(); });
  while (!core.fileList().empty()) core.assignWholeDirectory();
  borvantel::convert::ConversionEvents none;
  const double coreConvert = seconds([&] { core.convert(none); });

  // The same through the window.
  borvantel::app::Form1 form(prog.string(), (root / "window").string());
  form.show();
  (void)QTest::qWaitForWindowExposed(&form);
  const double windowStart = seconds([&] { click(form, "Command1"); });
  auto* list = form.findChild<QListView*>("List1");
  const QModelIndex big = list->model()->index(0, 0);  // "duzy\p000000.inc" sorts first
  list->selectionModel()->setCurrentIndex(big, QItemSelectionModel::ClearAndSelect);
  const double windowDir = seconds([&] { click(form, "Command4"); });
  const size_t left = form.run().fileList().size();
  while (!form.run().fileList().empty()) click(form, "Command4");
  const double windowConvert = seconds([&] { click(form, "Command5"); });

  std::printf("%-34s %10s %10s %10s\n", "", "run alone", "window", "window adds");
  auto row = [](const char* what, double a, double b) {
    std::printf("%-34s %9.3fs %9.3fs %9.3fs (%+.1f%%)\n", what, a, b, b - a, a > 0 ? 100.0 * (b - a) / a : 0.0);
  };
  row("Start, file list filled", coreStart, windowStart);
  row("whole directory assigned", coreDir, windowDir);
  row("conversion with progress window", coreConvert, windowConvert);
  std::printf("files left after the directory: %zu\n", left);
  std::fflush(stdout);
  if (!keep) fs::remove_all(root);
  return 0;
}
