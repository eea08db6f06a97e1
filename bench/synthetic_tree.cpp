#include "synthetic_tree.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace borvantel::bench {
namespace {

namespace fs = std::filesystem;

// A fixed, portable generator, so that every run lays out the same tree.
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
  // The tree reads as intended before the conversion: an include file that
  // carries its category already is passed it.
  auto includeLine = [&] {
    size_t j = rng.below(files);
    for (int tries = 0; tries < 8 && (kindOf(j) == Kind::Scenery || kindOf(j) == Kind::FewMarkers); ++tries) {
      j = rng.below(files);
    }
    out += (rng.below(2) ? "include\t" : "include ") + relativeOf(j) +
           (kindOf(j) == Kind::Header ? " Budynki_&type" : "") + " 12.5;3 end\r\n";
  };
  // A file that gets no category, now and then one that is not there.
  auto plainInclude = [&] {
    size_t j = rng.below(files);
    for (int tries = 0; tries < 32 && kindOf(j) != Kind::FewMarkers; ++tries) j = rng.below(files);
    out += "include " + (rng.below(50) == 0 || kindOf(j) != Kind::FewMarkers ? "tory/nieznany.inc" : relativeOf(j)) +
           " 1 2 3 end\r\n";
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
          plainInclude();
        }
        break;
    }
  }
  return out;
}

// A "predef.txt" of a few hundred patterns, a few of which match: Start
// tries every pattern against every waiting file.
std::string predefText() {
  std::string out = "f0000* MOSTY\r\n*5.inc DROGI\r\n";
  char line[64];
  for (int k = 0; k < 300; ++k) {
    std::snprintf(line, sizeof line, "*wzor%03d BUDYNKI\r\nwzor%03d* TORY\r\n", k, k);
    out += line;
  }
  return out;
}

}  // namespace

void writeWhole(const std::string& path, const std::string& data) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
  const bool ok = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
  ::close(fd);
  if (!ok) throw std::runtime_error("cannot write " + path);
}

std::uint64_t generateTree(const std::string& root, size_t files) {
  SplitMix rng{20240601};
  std::uint64_t bytes = 0;
  for (size_t i = 0; i < files; ++i) {
    const std::string path = root + "/base/scenery/" + relativeOf(i);
    if (i % kFilesPerDir == 0) fs::create_directories(fs::path(path).parent_path());
    const std::string data = contentOf(i, files, rng);
    bytes += data.size();
    writeWhole(path, data);
  }
  fs::create_directories(root + "/prog");
  writeWhole(root + "/prog/predef.txt", predefText());
  writeWhole(root + "/prog/kategorie.txt", "MOSTY\r\nDROGI\r\nBUDYNKI\r\nTORY\r\n");
  return bytes;
}


}  // namespace borvantel::bench
