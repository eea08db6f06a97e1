// bench_window: what the window adds to the core on large lists, under the
// offscreen platform. Lays out a tree whose include files all wait for a
// category (one directory of --dir-files of them, the rest spread out) and
// times, each as a real click on the window against the same work on the run
// alone:
//   - Start, with the file list filled;
//   - the whole-directory assignment of the large directory;
//   - the conversion with its progress window.
//
//   bench_window [--files N] [--dir-files M] [--runs R] [--keep] DIR
//
// With --review it lays out bench_tree's tree of N files instead, every
// waiting file assigned at Start by "predef.txt", and times the review of
// the changes: the dry run alone, the review's list alone, the list as the
// window shows it (from the click to the window with its list), and how long
// a file's diff takes to appear once it is selected.
//
//   bench_window --review [--files N] [--runs R] [--keep] DIR
#include "synthetic_tree.h"

#include "app/diff_view.h"
#include "app/form1.h"
#include "app/form3.h"
#include "app/form4.h"
#include "run/run.h"

#include <QApplication>
#include <QListView>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QtTest/QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

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

std::pair<double, double> minAndMedian(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v.front(), v[v.size() / 2]};
}

// The review of the changes on bench_tree's tree.
int reviewBench(const fs::path& root, size_t files, size_t runs, bool keep) {
  borvantel::bench::generateTree((root / "pristine").string(), files);
  fs::remove(root / "pristine" / "prog" / "predef.txt");
  borvantel::bench::writeWhole((root / "pristine" / "prog" / "predef.txt").string(), "* MOSTY\r\n");
  std::vector<double> dry, alone, window, shown;
  size_t listed = 0;
  for (size_t round = 0; round < runs; ++round) {
    // Each step on a fresh copy of its own, after Start, none after another.
    for (const char* part : {"dry", "alone", "window"}) {
      fs::remove_all(root / part);
      fs::copy(root / "pristine", root / part, fs::copy_options::recursive);
    }
    borvantel::convert::ConversionEvents none;
    {
      borvantel::run::Run core((root / "dry" / "prog").string(), (root / "dry" / "base").string());
      core.start();
      dry.push_back(seconds([&] { core.dryRun(none); }));
    }
    {
      borvantel::run::Run core((root / "alone" / "prog").string(), (root / "alone" / "base").string());
      core.start();
      alone.push_back(seconds([&] { listed = core.review(none).files().size(); }));
    }
    borvantel::app::Form1 form((root / "window" / "prog").string(), (root / "window" / "base").string());
    form.show();
    (void)QTest::qWaitForWindowExposed(&form);
    click(form, "Command1");
    const auto clicked = std::chrono::steady_clock::now();
    QTimer poll;
    poll.setInterval(2);  // 0 would keep a core busy while the list is prepared
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* review = qobject_cast<borvantel::app::Form4*>(QApplication::activeModalWidget());
      if (!review) return;
      poll.stop();
      window.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - clicked).count());
      // A file's diff from its selection until it has been painted.
      auto* list = review->findChild<QTableView*>("List1");
      const int rows = list->model()->rowCount();
      for (int k = 1; k <= 200 && rows > 1; ++k) {
        const int row = static_cast<int>(static_cast<long long>(k) * (rows - 1) / 200);
        shown.push_back(seconds([&] {
          list->setCurrentIndex(list->model()->index(row, 0));
          review->findChild<borvantel::app::DiffView*>("Text1")->repaint();
        }));
      }
      review->reject();
    });
    poll.start();
    click(form, "Command9");
  }
  const auto [dryMin, dryMed] = minAndMedian(dry);
  const auto [aloneMin, aloneMed] = minAndMedian(alone);
  const auto [windowMin, windowMed] = minAndMedian(window);
  std::sort(shown.begin(), shown.end());
  std::printf("%zu files, %zu listed for review; %zu rounds (minimum, median)\n", files, listed, runs);
  std::printf("  dry run alone                 %7.3f s %7.3f s\n", dryMin, dryMed);
  std::printf("  review's list alone           %7.3f s %7.3f s  (%.2f, %.2f x the dry run)\n", aloneMin, aloneMed,
              aloneMin / dryMin, aloneMed / dryMed);
  std::printf("  review in the window          %7.3f s %7.3f s  (%.2f, %.2f x the dry run)\n", windowMin,
              windowMed, windowMin / dryMin, windowMed / dryMed);
  std::printf("  a file's diff shown           median %.1f ms, 95th %.1f ms, max %.1f ms over %zu selections\n",
              shown[shown.size() / 2] * 1e3, shown[shown.size() * 95 / 100] * 1e3, shown.back() * 1e3,
              shown.size());
  std::fflush(stdout);
  if (!keep) fs::remove_all(root);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  size_t files = 50000;
  size_t dirFiles = 20000;
  size_t runs = 3;
  bool keep = false;
  bool review = false;
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--files" && i + 1 < argc) {
      files = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--dir-files" && i + 1 < argc) {
      dirFiles = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--runs" && i + 1 < argc) {
      runs = std::max<size_t>(1, std::strtoull(argv[++i], nullptr, 10));
    } else if (arg == "--keep") {
      keep = true;
    } else if (arg == "--review") {
      review = true;
    } else {
      dir = arg;
    }
  }
  if (dir.empty() || (!review && dirFiles > files)) {
    std::fprintf(stderr, "usage: bench_window [--files N] [--dir-files M] [--runs R] [--keep] DIR\n");
    return 2;
  }
  const fs::path root = fs::absolute(dir);
  if (review) {
    fs::remove_all(root);
    return reviewBench(root, files, runs, keep);
  }
  for (const char* part : {"prog", "window", "core", "pristine"}) fs::remove_all(root / part);  // a run cut short
  const fs::path prog = root / "prog";
  fs::create_directories(prog);
  std::ofstream(prog / "kategorie.txt", std::ios::binary) << "AUTA\r\nMOSTY\r\n";
  std::printf("%zu include files waiting, %zu of them in one directory; %zu interleaved rounds\n", files, dirFiles,
              runs);
  layOut(root / "pristine", files, dirFiles);

  // Per step, the run alone and the window, one sample a round.
  std::vector<double> coreStart, coreDir, coreConvert, windowStart, windowDir, windowConvert;
  size_t left = 0;
  for (size_t round = 0; round < runs; ++round) {
    for (const char* part : {"window", "core"}) {
      fs::remove_all(root / part);
      fs::copy(root / "pristine", root / part, fs::copy_options::recursive);
    }
    {
      borvantel::run::Run core(prog.string(), (root / "core").string());
      coreStart.push_back(seconds([&] { core.start(); }));
      core.selectFile(core.fileIndex("duzy/p000000.inc"));
      coreDir.push_back(seconds([&] { core.assignWholeDirectory(); }));
      while (!core.fileList().empty()) core.assignWholeDirectory();
      borvantel::convert::ConversionEvents none;
      coreConvert.push_back(seconds([&] { core.convert(none); }));
    }
    borvantel::app::Form1 form(prog.string(), (root / "window").string());
    form.show();
    (void)QTest::qWaitForWindowExposed(&form);
    windowStart.push_back(seconds([&] { click(form, "Command1"); }));
    auto* list = form.findChild<QListView*>("List1");
    const QModelIndex big = list->model()->index(0, 0);  // "duzy\p000000.inc" sorts first
    list->selectionModel()->setCurrentIndex(big, QItemSelectionModel::ClearAndSelect);
    windowDir.push_back(seconds([&] { click(form, "Command4"); }));
    left = form.run().fileList().size();
    while (!form.run().fileList().empty()) click(form, "Command4");
    windowConvert.push_back(seconds([&] { click(form, "Command5"); }));
  }

  std::printf("%-34s %10s %10s %12s %10s %10s %12s\n", "", "alone min", "window min", "window adds", "alone med",
              "window med", "window adds");
  auto row = [](const char* what, std::vector<double> a, std::vector<double> b) {
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    const double amin = a.front(), bmin = b.front(), amed = a[a.size() / 2], bmed = b[b.size() / 2];
    std::printf("%-34s %9.3fs %9.3fs %+11.1f%% %9.3fs %9.3fs %+11.1f%%\n", what, amin, bmin,
                amin > 0 ? 100.0 * (bmin - amin) / amin : 0.0, amed, bmed,
                amed > 0 ? 100.0 * (bmed - amed) / amed : 0.0);
  };
  row("Start, file list filled", coreStart, windowStart);
  row("whole directory assigned", coreDir, windowDir);
  row("conversion with progress window", coreConvert, windowConvert);
  std::printf("files left after the directory: %zu\n", left);
  std::fflush(stdout);
  if (!keep) fs::remove_all(root);
  return 0;
}
