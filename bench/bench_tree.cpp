// bench_tree: the one benchmark of the core on a whole tree. It lays out a
// synthetic scenery tree once, then in each of several interleaved rounds
// times, each step as a process of its own on a fresh copy of the tree:
//
//   read floor     every include and scenery file read once, in this process
//   read by cat    the same files read by cat (find ... -exec cat), as a
//                  user would time reading them
//   cp -a          a plain copy of the whole tree (and the round's fresh copy)
//   start          Start on the fresh copy
//   check          borvantel-cli check's reading of the same copy
//   assign         every waiting file assigned, one directory at a time
//   convert        the conversion (one flush per file system)
//   copy changed   a copy of just the files the conversion changed
//   convert fsync  (--compare-flush) the conversion with an fsync per file,
//                  on a second fresh copy of the same round
//
// and prints, per step, the minimum and median wall time over the rounds, each
// as a ratio to its floor, CPU time and the step's peak memory (its process's
// maximum resident set).
//
//   bench_tree [--files N] [--runs R] [--threads T] [--compare-flush] [--no-undo] [--keep] --dir DIR
//
// --no-undo converts without keeping the undo set.
//
// DIR must be empty or missing; everything under it is removed at the end
// unless --keep. Put it on tmpfs (/dev/shm) to compare without disk noise.
#include "synthetic_tree.h"

#include "categories/assignment.h"
#include "convert/conversion.h"
#include "run/check.h"
#include "run/start.h"
#include "text/paths.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using borvantel::text::RunPaths;

// ---------------------------------------------------------------------------
// The steps, each run in a process of its own (bench_tree --step NAME ...), so
// that its peak memory is its own.

RunPaths pathsOf(const std::string& tree) { return RunPaths::make(tree + "/prog", tree + "/base"); }

// Reads the file through a buffer of the conversion's size; returns its bytes.
std::uint64_t readThrough(const char* path, std::vector<char>& buffer) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error(std::string("cannot open ") + path);
  std::uint64_t total = 0;
  ssize_t n;
  while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) total += static_cast<std::uint64_t>(n);
  ::close(fd);
  if (n < 0) throw std::runtime_error(std::string("cannot read ") + path);
  return total;
}

int stepRead(const std::string& tree) {
  std::vector<char> buffer(256 * 1024);
  for (const auto& entry : fs::recursive_directory_iterator(tree + "/base/scenery")) {
    const auto ext = entry.path().extension();
    if (entry.is_regular_file() && (ext == ".inc" || ext == ".scn")) readThrough(entry.path().c_str(), buffer);
  }
  return 0;
}

int stepStart(const std::string& tree) {
  const auto result = borvantel::run::runStart(pathsOf(tree));
  return result.fileList.empty() && result.scan.sceneryFiles == 0 ? 1 : 0;
}

int stepCheck(const std::string& tree) {
  const auto result = borvantel::run::checkTree(tree + "/base");
  return result.filesRead == 0 ? 1 : 0;
}

int stepAssign(const std::string& tree) {
  const RunPaths paths = pathsOf(tree);
  std::vector<std::string> list = borvantel::categories::pendingFiles(paths);
  while (!list.empty()) {
    const std::string target(borvantel::text::directoryPartOf(list.front()));
    borvantel::categories::przypisz_katalog(paths, list, target, "MOSTY");
  }
  return 0;
}

int stepConvert(const std::string& tree, const std::string& flush, unsigned threads, const std::string& changedOut) {
  borvantel::convert::ConversionEvents events;
  borvantel::convert::ConversionOptions options;
  options.flush = flush.rfind("file", 0) == 0 ? borvantel::convert::FlushMode::PerFile
                                              : borvantel::convert::FlushMode::PerFileSystem;
  options.keepUndo = flush.find("-no-undo") == std::string::npos;
  options.threads = threads;
  const auto result = borvantel::convert::runConversion(pathsOf(tree), events, options);
  if (!changedOut.empty()) {
    std::ofstream out(changedOut, std::ios::binary);
    for (const std::string& name : result.changedFiles) out << name << '\n';
    out << "#read " << result.bytesRead << " written " << result.bytesWritten << '\n';
  }
  return 0;
}

// Copies each changed file of the list from the pristine tree to a new file
// beside its copy in `tree`, as the conversion writes its temporary files.
int stepCopyChanged(const std::string& pristine, const std::string& tree, const std::string& list) {
  std::ifstream in(list, std::ios::binary);
  std::vector<char> buffer(256 * 1024);
  std::string name;
  while (std::getline(in, name)) {
    if (name.empty() || name[0] == '#') continue;
    std::replace(name.begin(), name.end(), '\\', '/');
    const std::string from = pristine + "/base/" + name;
    const std::string to = tree + "/base/" + name + ".copy";
    const int src = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    const int dst = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (src < 0 || dst < 0) throw std::runtime_error("cannot copy " + from);
    ssize_t n;
    while ((n = ::read(src, buffer.data(), buffer.size())) > 0) {
      if (::write(dst, buffer.data(), static_cast<size_t>(n)) != n) throw std::runtime_error("cannot write " + to);
    }
    ::close(src);
    ::close(dst);
  }
  return 0;
}

int runStep(const std::vector<std::string>& args) {
  const std::string& step = args.at(0);
  if (step == "idle") return 0;
  if (step == "read") return stepRead(args.at(1));
  if (step == "start") return stepStart(args.at(1));
  if (step == "check") return stepCheck(args.at(1));
  if (step == "assign") return stepAssign(args.at(1));
  if (step == "convert") {
    return stepConvert(args.at(1), args.at(2), static_cast<unsigned>(std::stoul(args.at(3))),
                       args.size() > 4 ? args[4] : "");
  }
  if (step == "copy-changed") return stepCopyChanged(args.at(1), args.at(2), args.at(3));
  throw std::runtime_error("unknown step " + step);
}

// ---------------------------------------------------------------------------
// Timing a step as a child process.

struct Sample {
  double wall = 0;
  double user = 0;
  double system = 0;
  long peakKb = 0;
};

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

Sample spawnTimed(const std::vector<std::string>& argv) {
  std::vector<char*> raw;
  for (const std::string& a : argv) raw.push_back(const_cast<char*>(a.c_str()));
  raw.push_back(nullptr);
  const auto begin = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (const int err = ::posix_spawn(&pid, raw[0], nullptr, nullptr, raw.data(), environ)) {
    throw std::runtime_error("cannot run " + argv[0] + ": " + std::strerror(err));
  }
  int status = 0;
  rusage usage {};
  if (::wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("wait4 failed");
  Sample s;
  s.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string cmd;
    for (const std::string& a : argv) cmd += " " + a;
    throw std::runtime_error("step failed:" + cmd);
  }
  s.user = seconds(usage.ru_utime);
  s.system = seconds(usage.ru_stime);
  s.peakKb = usage.ru_maxrss;
  return s;
}

struct Series {
  std::string name;
  std::string floor;  // the name of the series this one is compared with, or empty
  std::vector<Sample> samples;

  double min() const {
    double m = samples.front().wall;
    for (const Sample& s : samples) m = std::min(m, s.wall);
    return m;
  }
  double median() const {
    std::vector<double> w;
    for (const Sample& s : samples) w.push_back(s.wall);
    std::sort(w.begin(), w.end());
    return w.size() % 2 ? w[w.size() / 2] : (w[w.size() / 2 - 1] + w[w.size() / 2]) / 2;
  }
  // CPU time of the fastest run.
  const Sample& fastest() const {
    return *std::min_element(samples.begin(), samples.end(),
                             [](const Sample& a, const Sample& b) { return a.wall < b.wall; });
  }
  long peakMb() const {
    long m = 0;
    for (const Sample& s : samples) m = std::max(m, s.peakKb);
    return m / 1024;
  }
};

std::string fileSystemOf(const std::string& dir) {
  struct statfs st {};
  if (::statfs(dir.c_str(), &st) != 0) return "?";
  switch (static_cast<unsigned long>(st.f_type)) {
    case 0x01021994: return "tmpfs";
    case 0xEF53: return "ext4";
    case 0x9123683E: return "btrfs";
    case 0x58465342: return "xfs";
    case 0x794c7630: return "overlayfs";
    default: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "0x%lx", static_cast<unsigned long>(st.f_type));
      return buf;
    }
  }
}

std::string cpuModel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "?";
}

void usage() {
  std::fprintf(stderr,
               "usage: bench_tree [--files N] [--runs R] [--threads T] [--compare-flush] [--no-undo] [--keep] --dir DIR\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (!args.empty() && args[0] == "--step") return runStep({args.begin() + 1, args.end()});
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_tree step: %s\n", e.what());
    return 1;
  }

  size_t files = 20000;
  size_t runs = 5;
  unsigned threads = 0;
  bool keep = false;
  bool compareFlush = false;
  bool keepUndo = true;
  std::string dir;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "--files" && hasValue) {
      files = std::strtoul(args[++i].c_str(), nullptr, 10);
    } else if (arg == "--runs" && hasValue) {
      runs = std::strtoul(args[++i].c_str(), nullptr, 10);
    } else if (arg == "--threads" && hasValue) {
      threads = static_cast<unsigned>(std::strtoul(args[++i].c_str(), nullptr, 10));
    } else if (arg == "--dir" && hasValue) {
      dir = args[++i];
    } else if (arg == "--keep") {
      keep = true;
    } else if (arg == "--compare-flush") {
      compareFlush = true;
    } else if (arg == "--no-undo") {
      keepUndo = false;
    } else {
      usage();
      return 2;
    }
  }
  if (dir.empty() || files == 0 || runs == 0) {
    usage();
    return 2;
  }
  try {
    if (fs::exists(dir) && !fs::is_empty(dir)) throw std::runtime_error(dir + " is not empty");
    fs::create_directories(dir);
    const std::string root = fs::canonical(dir).string();
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string pristine = root + "/pristine";
    const std::string tree = root + "/run";
    const std::string treeFsync = root + "/run-fsync";
    const std::string changed = root + "/changed.txt";
    const std::string threadArg = std::to_string(threads);
    const std::string undoArg = keepUndo ? "" : "-no-undo";

    utsname uts {};
    ::uname(&uts);
    std::printf("machine: %s, %u hardware threads, Linux %s; tree on %s (%s)\n", cpuModel().c_str(),
                std::thread::hardware_concurrency(), uts.release, root.c_str(), fileSystemOf(root).c_str());

    const auto generated = std::chrono::steady_clock::now();
    const std::uint64_t bytes = borvantel::bench::generateTree(pristine, files);
    std::printf("tree: %zu files, %.1f MB, laid out in %.1f s; %zu interleaved rounds\n", files,
                static_cast<double>(bytes) / 1e6,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - generated).count(), runs);
    std::fflush(stdout);

    std::map<std::string, Series> series;
    std::vector<std::string> order;
    auto add = [&](const std::string& name, const std::string& floor, const Sample& s) {
      auto [it, fresh] = series.try_emplace(name, Series{name, floor, {}});
      if (fresh) order.push_back(name);
      it->second.samples.push_back(s);
    };
    auto step = [&](std::vector<std::string> rest) {
      rest.insert(rest.begin(), {self, "--step"});
      return spawnTimed(rest);
    };
    auto freshCopy = [&](const std::string& to) { return spawnTimed({"/bin/cp", "-a", pristine, to}); };
    const std::string catAll = "find \"$0\" -type f \\( -name '*.inc' -o -name '*.scn' \\) -exec cat {} + > /dev/null";
    auto prepare = [&](const std::string& to) {  // untimed: a copy that waits for its conversion
      freshCopy(to);
      step({"start", to});
      step({"assign", to});
    };

    const Sample idle = step({"idle"});
    for (size_t round = 0; round < runs; ++round) {
      add("read floor", "", step({"read", pristine}));
      add("read by cat", "", spawnTimed({"/bin/sh", "-c", catAll, pristine + "/base/scenery"}));
      add("cp -a", "", freshCopy(tree));
      add("start", "read floor", step({"start", tree}));
      add("check", "start", step({"check", tree}));
      add("assign", "read floor", step({"assign", tree}));
      if (compareFlush) prepare(treeFsync);
      add("convert", "cp -a", step({"convert", tree, "fs" + undoArg, threadArg, changed}));
      if (compareFlush) {
        add("convert, fsync per file", "convert", step({"convert", treeFsync, "file" + undoArg, threadArg}));
        // On a disk only pairs from one round compare.
        std::printf("round %zu: convert %.3f s with one flush per file system, %.3f s with an fsync per file\n",
                    round + 1, series.at("convert").samples.back().wall,
                    series.at("convert, fsync per file").samples.back().wall);
      }
      add("copy changed", "", step({"copy-changed", pristine, tree, changed}));
      fs::remove_all(tree);
      if (compareFlush) fs::remove_all(treeFsync);
    }

    std::ifstream list(changed);
    size_t changedFiles = 0;
    std::string line;
    std::string totals;
    while (std::getline(list, line)) {
      if (line.rfind('#', 0) == 0) {
        totals = line.substr(1);
      } else {
        ++changedFiles;
      }
    }
    std::printf("conversion: %zu files changed, bytes %s\n\n", changedFiles, totals.c_str());

    std::printf("%-24s %9s %9s %9s %9s  %-14s %7s %7s %8s\n", "step", "min s", "median s", "min x", "median x",
                "floor", "user s", "sys s", "peak MB");
    auto row = [&](const Series& s, const std::string& floor) {
      const Sample& f = s.fastest();
      if (floor.empty()) {
        std::printf("%-24s %9.3f %9.3f %9s %9s  %-14s %7.2f %7.2f %8ld\n", s.name.c_str(), s.min(), s.median(), "",
                    "", "", f.user, f.system, s.peakMb());
      } else {
        const Series& base = series.at(floor);
        std::printf("%-24s %9.3f %9.3f %9.2f %9.2f  %-14s %7.2f %7.2f %8ld\n", s.name.c_str(), s.min(), s.median(),
                    s.min() / base.min(), s.median() / base.median(), floor.c_str(), f.user, f.system, s.peakMb());
      }
    };
    for (const std::string& name : order) row(series.at(name), series.at(name).floor);
    // Start also against reading with cat, the conversion against copying
    // only what it changes.
    row(series.at("start"), "read by cat");
    row(series.at("convert"), "copy changed");
    std::printf("(an idle step process peaks at %ld MB; per file: start %.1f us, convert %.1f us)\n",
                idle.peakKb / 1024, series.at("start").min() / static_cast<double>(files) * 1e6,
                series.at("convert").min() / static_cast<double>(files) * 1e6);
    if (!keep) fs::remove_all(root);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_tree: %s\n", e.what());
    return 1;
  }
  return 0;
}
