// bench_tree: lays out a synthetic scenery tree and times Start, a whole-tree
// assignment and the conversion (with each flush mode) against a plain copy of
// the same bytes, the speed the tool should come close to.
//
//   bench_tree [--files N] [--settle SECONDS] [--keep] DIR
//
// DIR must be empty or missing; the trees are removed at the end unless --keep.
// --settle waits before each conversion: ext4 without a journal avoids
// reusing inodes freed in the last 30 seconds, which makes creating files
// right after many renames over old files much slower than usual.
#include "categories/assignment.h"
#include "convert/conversion.h"
#include "run/start.h"
#include "text/files.h"
#include "text/paths.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using borvantel::text::RunPaths;

// A fixed, portable generator, so that every platform lays out the same tree.
struct SplitMix {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t below(size_t n) { return static_cast<size_t>(next() % n); }
};

enum class Kind { NeedsCategory, Header, FewMarkers, Scenery };

constexpr size_t kFilesPerDir = 200;
constexpr size_t kDirsPerRegion = 25;

Kind kindOf(size_t i) {
  const size_t k = static_cast<size_t>(SplitMix{i * 7919 + 17}.next() % 100);
  if (k < 40) return Kind::NeedsCategory;
  if (k < 55) return Kind::Header;
  if (k < 75) return Kind::FewMarkers;
  return Kind::Scenery;
}

// Relative path below "scenery", "/" separated.
std::string relativeOf(size_t i) {
  const size_t dir = i / kFilesPerDir;
  char buf[64];
  std::snprintf(buf, sizeof buf, "r%02zu/d%02zu/f%06zu.%s", dir / kDirsPerRegion, dir % kDirsPerRegion, i,
                kindOf(i) == Kind::Scenery ? "scn" : "inc");
  return buf;
}

std::string contentOf(size_t i, size_t files, SplitMix& rng) {
  const size_t size = 1024 + rng.below(19 * 1024 + 1);
  std::string out;
  out.reserve(size + 128);
  const Kind kind = kindOf(i);
  if (kind == Kind::Header) out += "//$infotype: Budynki\r\n";
  if (kind == Kind::NeedsCategory || kind == Kind::Header) out += "// p1 = wysokosc, p2 = dlugosc\r\n";
  auto includeLine = [&] {
    size_t j = rng.below(files);
    for (int tries = 0; tries < 8 && (kindOf(j) == Kind::Scenery || kindOf(j) == Kind::FewMarkers); ++tries) {
      j = rng.below(files);
    }
    out += (rng.below(2) ? "include\t" : "include ") + relativeOf(j) + " 12.5;3 end\r\n";
  };
  while (out.size() < size) {
    switch (kind) {
      case Kind::NeedsCategory:
      case Kind::Header:
        out += "node -1 0 none (p1) track normal (p2) 1.435 (p3) end\r\norigin (p4) 0 0\r\n"
               "tex(p5).bmp 1 2 // p6\r\nendorigin\r\n";
        break;
      case Kind::FewMarkers:
        out += "origin 0 0 0\r\nnode -1 0 none (p1) track 1 2 end\r\n";
        if (rng.below(4) == 0) includeLine();
        break;
      case Kind::Scenery:
        if (rng.below(10) < 6) {
          includeLine();
        } else if (rng.below(2)) {
          out += "node -1 0 none track normal 1.0 2.0 3.0 0 0 0 end\r\n";
        } else {
          out += "include tory/nieznany.inc 1 2 3\r\n";
        }
        break;
    }
  }
  return out;
}

void writeWhole(const std::string& path, const std::string& data, bool sync) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  if (::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
    ::close(fd);
    throw std::runtime_error("cannot write " + path);
  }
  if (sync && ::fsync(fd) != 0) throw std::runtime_error("cannot fsync " + path);
  ::close(fd);
}

void readWhole(const std::string& path, std::string& data) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  struct stat st {};
  ::fstat(fd, &st);
  data.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  while (got < data.size()) {
    const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
}

void syncFileSystemOf(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::syncfs(fd);
    ::close(fd);
  }
}

long maxRssMb() {
  rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

double cpuSeconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

// CPU time of the last timed() call, in user space and in the kernel.
double lastUser = 0;
double lastSystem = 0;

double timed(const std::function<void()>& fn) {
  rusage before {};
  ::getrusage(RUSAGE_SELF, &before);
  const auto start = std::chrono::steady_clock::now();
  fn();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage after {};
  ::getrusage(RUSAGE_SELF, &after);
  lastUser = cpuSeconds(after.ru_utime) - cpuSeconds(before.ru_utime);
  lastSystem = cpuSeconds(after.ru_stime) - cpuSeconds(before.ru_stime);
  return seconds;
}

void report(const char* what, double seconds, size_t files, std::uint64_t bytes) {
  const double mb = static_cast<double>(bytes) / 1e6;
  std::printf("%-34s %7.2f s %7zu files %7.0f files/s %7.1f MB %7.1f MB/s  user %5.2f s sys %5.2f s  max RSS %ld MB\n",
              what, seconds, files, static_cast<double>(files) / seconds, mb, mb / seconds, lastUser, lastSystem,
              maxRssMb());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  size_t files = 100000;
  bool keep = false;
  unsigned settle = 0;
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--files" && i + 1 < argc) {
      files = std::strtoul(argv[++i], nullptr, 10);
    } else if (arg == "--settle" && i + 1 < argc) {
      settle = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--keep") {
      keep = true;
    } else if (dir.empty() && arg[0] != '-') {
      dir = arg;
    } else {
      std::fprintf(stderr, "usage: bench_tree [--files N] [--settle SECONDS] [--keep] DIR\n");
      return 2;
    }
  }
  if (dir.empty() || files == 0) {
    std::fprintf(stderr, "usage: bench_tree [--files N] [--settle SECONDS] [--keep] DIR\n");
    return 2;
  }
  try {
    if (fs::exists(dir) && !fs::is_empty(dir)) throw std::runtime_error(dir + " is not empty");
    const std::string root = fs::absolute(dir).lexically_normal().string();

    // The pristine tree.
    std::vector<std::string> relatives(files);
    std::uint64_t bytes = 0;
    const double generate = timed([&] {
      SplitMix rng{20240601};
      for (size_t i = 0; i < files; ++i) {
        relatives[i] = relativeOf(i);
        const std::string path = root + "/pristine/base/scenery/" + relatives[i];
        if (i % kFilesPerDir == 0) fs::create_directories(fs::path(path).parent_path());
        const std::string data = contentOf(i, files, rng);
        bytes += data.size();
        writeWhole(path, data, false);
      }
      fs::create_directories(root + "/pristine/prog");
    });
    report("generate", generate, files, bytes);

    // The baseline: read and write the same bytes, as plain copies that are
    // also the trees the runs below convert.
    auto copyTree = [&](const std::string& to, bool fsyncEach) {
      std::string data;
      for (size_t i = 0; i < files; ++i) {
        if (i % kFilesPerDir == 0) fs::create_directories(fs::path(root + "/" + to + "/base/scenery/" + relatives[i]).parent_path());
        readWhole(root + "/pristine/base/scenery/" + relatives[i], data);
        writeWhole(root + "/" + to + "/base/scenery/" + relatives[i], data, fsyncEach);
      }
      fs::create_directories(root + "/" + to + "/prog");
    };
    // The same bytes put back by safe replacement (temporary file beside the
    // original, renamed over it): what any all-or-nothing rewrite must pay.
    auto rewriteTree = [&](const std::string& tree) {
      std::string data;
      for (size_t i = 0; i < files; ++i) {
        const std::string path = root + "/" + tree + "/base/scenery/" + relatives[i];
        readWhole(path, data);
        std::string temp = path.substr(0, path.rfind('/') + 1) + ".bench-XXXXXX";
        const int fd = ::mkstemp(temp.data());
        if (fd < 0 || ::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
          throw std::runtime_error("cannot write a temporary file beside " + path);
        }
        ::close(fd);
        if (::rename(temp.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot rename over " + path);
      }
    };
    syncFileSystemOf(root);
    report("copy (read+write, no flush)", timed([&] { copyTree("fs", false); }), files, bytes);
    report("  + one syncfs", timed([&] { syncFileSystemOf(root); }), 0, 0);
    report("copy + fsync per file", timed([&] { copyTree("file", true); }), files, bytes);
    if (settle > 0) ::sleep(settle);
    report("rewrite in place (temp + rename)", timed([&] { rewriteTree("fs"); }), files, bytes);
    report("  + one syncfs", timed([&] { syncFileSystemOf(root); }), 0, 0);

    for (const auto& [tree, mode, name] :
         {std::tuple{"fs", borvantel::convert::FlushMode::PerFileSystem, "syncfs per file system"},
          std::tuple{"file", borvantel::convert::FlushMode::PerFile, "fsync per file"}}) {
      std::printf("-- tree converted with %s\n", name);
      const RunPaths paths = RunPaths::make(root + "/" + tree + "/prog", root + "/" + tree + "/base");
      syncFileSystemOf(root);
      borvantel::run::StartResult start;
      report("start (scan + completion)", timed([&] { start = borvantel::run::runStart(paths); }), files, bytes);

      size_t assigned = 0;
      const double assign = timed([&] {
        std::vector<std::string> list = borvantel::categories::pendingFiles(paths);
        while (!list.empty()) {
          const std::string target(borvantel::text::directoryPartOf(list.front()));
          assigned += borvantel::categories::przypisz_katalog(paths, list, target, "most").size();
        }
      });
      report("assign (per directory)", assign, assigned, 0);

      syncFileSystemOf(root);
      if (settle > 0) ::sleep(settle);
      borvantel::convert::ConversionEvents progress;
      borvantel::convert::ConversionOptions options;
      options.flush = mode;
      borvantel::convert::ConversionResult result;
      const double convert = timed([&] { result = borvantel::convert::runConversion(paths, progress, options); });
      report("convert (read)", convert, result.includeFiles + result.sceneryListed, result.bytesRead);
      report("convert (written)", convert, result.changedFiles.size(), result.bytesWritten);
      std::printf("   include files %zu, scenery files listed %zu, rewritten %zu\n", result.includeFiles,
                  result.sceneryListed, result.sceneryFiles);
    }
    if (!keep) fs::remove_all(root);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_tree: %s\n", e.what());
    return 1;
  }
  return 0;
}
