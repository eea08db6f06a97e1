// Where the programs keep "kategorie.txt" and "predef.txt": the rule chosen
// from given places, the user's data directory made and filled in temporary
// trees (with failures injected), and borvantel-cli started from a copy laid
// out as an installation is.
#include "platform/os.h"
#include "platform/process.h"
#include "run/program.h"
#include "support/process.h"
#include "support/temp_tree.h"
#include "text/files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace borvantel {
namespace {

using run::ProgramDirSource;
using testing::FailingOs, testing::ScopedVariable, testing::TempTree;
using Call = FailingOs::Call;
using Names = std::vector<std::string>;

constexpr const char* kKategorie = "MOSTY\r\nTORY\r\n";
constexpr const char* kPredef = "most* MOSTY\r\n";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// An installation in the tree: usr/bin holds the programs, usr/share/borvantel
// the defaults; the user's data directory is home/.local/share.
void installDefaults(const TempTree& t) {
  t.mkdir("usr/bin");
  t.write("usr/share/borvantel/kategorie.txt", kKategorie);
  t.write("usr/share/borvantel/predef.txt", kPredef);
}

run::ProgramPlaces places(const TempTree& t) { return {t.path("usr/bin"), t.path("home/.local/share")}; }

run::ProgramDirectory userData(const TempTree& t) {
  return run::chooseProgramDirectory("", places(t));
}

Names temporaryFiles(const TempTree& t) {
  Names found;
  for (const std::string& f : t.allFiles()) {
    if (testing::isTemporaryFile(f)) found.push_back(f);
  }
  return found;
}

TEST(ProgramDirectory, TheOptionThenTheExecutablesOwnFilesThenTheUsersDataDirectory) {
  struct Row {
    const char* option;
    std::vector<const char*> besideExecutable;  // "name/" for a directory
    ProgramDirSource source;
    const char* path;
    const char* why;
  };
  const Row rows[] = {
      {"inny", {"kategorie.txt"}, ProgramDirSource::Option, "inny", "--program-dir wins over everything"},
      {"", {"kategorie.txt", "predef.txt"}, ProgramDirSource::BesideExecutable, "usr/bin", "a portable copy"},
      {"", {"kategorie.txt"}, ProgramDirSource::BesideExecutable, "usr/bin", "kategorie.txt alone decides"},
      {"", {"predef.txt"}, ProgramDirSource::UserData, "home/.local/share/borvantel", "predef.txt alone does not"},
      {"", {"kategorie.txt/"}, ProgramDirSource::UserData, "home/.local/share/borvantel", "a directory of that name"},
      {"", {}, ProgramDirSource::UserData, "home/.local/share/borvantel", "an installed program"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    TempTree t;
    installDefaults(t);
    for (std::string name : r.besideExecutable) {
      if (name.back() == '/') {
        t.mkdir("usr/bin/" + name);
      } else {
        t.write("usr/bin/" + name, kKategorie);
      }
    }
    const auto before = t.allFiles();
    const std::string option = *r.option ? t.path(r.option) : "";
    const run::ProgramDirectory dir = run::chooseProgramDirectory(option, places(t));
    EXPECT_EQ(dir.source, r.source);
    EXPECT_EQ(dir.path, t.path(r.path));
    if (r.source == ProgramDirSource::UserData) {
      EXPECT_EQ(dir.defaults, t.path("usr/share/borvantel"));
    }
    EXPECT_EQ(t.allFiles(), before);  // choosing creates nothing
    EXPECT_FALSE(t.exists("home"));
  }
}

TEST(ProgramDirectory, WithoutAUserDataDirectoryOnlyTheOptionOrOwnFilesServe) {
  TempTree t;
  installDefaults(t);
  const run::ProgramPlaces nowhere{t.path("usr/bin"), ""};
  try {
    run::chooseProgramDirectory("", nowhere);
    ADD_FAILURE() << "no directory, yet no failure";
  } catch (const text::Failure& e) {
    EXPECT_TRUE(contains(e.what(), "--program-dir")) << e.what();  // says what to do
  }
  EXPECT_EQ(run::chooseProgramDirectory(t.path("inny"), nowhere).source, ProgramDirSource::Option);
  t.write("usr/bin/kategorie.txt", kKategorie);
  EXPECT_EQ(run::chooseProgramDirectory("", nowhere).source, ProgramDirSource::BesideExecutable);
}

TEST(ProgramDirectory, FirstUseMakesAPrivateDirectoryWithTheDefaultsAndLaterUsesCopyNothing) {
  TempTree t;
  installDefaults(t);
  const run::ProgramDirectory dir = userData(t);
  EXPECT_EQ(run::prepareProgramDirectory(dir), (Names{"kategorie.txt", "predef.txt"}));
  EXPECT_EQ(t.read("home/.local/share/borvantel/kategorie.txt"), kKategorie);
  EXPECT_EQ(t.read("home/.local/share/borvantel/predef.txt"), kPredef);
  if (platform::processUmask() != 0) {  // a system with permission bits
    for (const char* made : {"home", "home/.local", "home/.local/share", "home/.local/share/borvantel"}) {
      platform::FileStat st;
      ASSERT_EQ(platform::os().stat(t.path(made).c_str(), &st), 0);
      EXPECT_EQ(st.mode & 0777, 0700u) << made;
    }
  }
  const auto after = t.snapshot();
  EXPECT_EQ(run::prepareProgramDirectory(dir), Names{});
  EXPECT_EQ(t.snapshot(), after);
  EXPECT_EQ(temporaryFiles(t), Names{});
  // A deleted file comes back as the default; the other stays the user's.
  t.write("home/.local/share/borvantel/kategorie.txt", "WŁASNA\r\n");
  t.remove("home/.local/share/borvantel/predef.txt");
  EXPECT_EQ(run::prepareProgramDirectory(dir), Names{"predef.txt"});
  EXPECT_EQ(t.read("home/.local/share/borvantel/predef.txt"), kPredef);
  EXPECT_EQ(t.read("home/.local/share/borvantel/kategorie.txt"), "WŁASNA\r\n");
}

TEST(ProgramDirectory, AUsersFileIsNeverReplaced) {
  struct Row {
    std::optional<std::string> kategorie;  // the user's, when there is one
    std::optional<std::string> predef;
    bool defaultKategorie;                 // whether the installation has one
    Names copied;
    const char* why;
  };
  const Row rows[] = {
      {"AUTA\r\n", std::nullopt, true, {"predef.txt"}, "the user's category list"},
      {std::nullopt, "auto* AUTA\r\n", true, {"kategorie.txt"}, "the user's patterns"},
      {"", "", true, {}, "empty files are the user's choice too"},
      {std::nullopt, std::nullopt, false, {"predef.txt"}, "a default the installation lacks"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    TempTree t;
    installDefaults(t);
    if (!r.defaultKategorie) t.remove("usr/share/borvantel/kategorie.txt");
    if (r.kategorie) t.write("home/.local/share/borvantel/kategorie.txt", *r.kategorie);
    if (r.predef) t.write("home/.local/share/borvantel/predef.txt", *r.predef);
    EXPECT_EQ(run::prepareProgramDirectory(userData(t)), r.copied);
    EXPECT_EQ(t.exists("home/.local/share/borvantel/kategorie.txt"), r.kategorie || r.defaultKategorie);
    if (r.kategorie) {
      EXPECT_EQ(t.read("home/.local/share/borvantel/kategorie.txt"), *r.kategorie);
    }
    EXPECT_EQ(t.read("home/.local/share/borvantel/predef.txt"), r.predef ? *r.predef : kPredef);
    EXPECT_EQ(temporaryFiles(t), Names{});
  }
}

#ifndef _WIN32
TEST(ProgramDirectory, ALinkInTheUsersPlaceIsLeftAsItIs) {
  TempTree t;
  installDefaults(t);
  t.symlink(t.path("gdzie-indziej/predef.txt"), "home/.local/share/borvantel/predef.txt");  // dangling
  EXPECT_EQ(run::prepareProgramDirectory(userData(t)), Names{"kategorie.txt"});
  EXPECT_FALSE(t.exists("gdzie-indziej/predef.txt"));  // not written through the link
}
#endif

TEST(ProgramDirectory, AFailureNamesTheDirectoryOrFileAndTheReason) {
  struct Row {
    std::optional<FailingOs::Rule> rule;
    const char* named;  // in the message
    const char* reason;
    const char* why;
  };
  const Row rows[] = {
      {std::nullopt, "home/.local/share/borvantel", "nie jest katalogiem", "a file where a directory must be"},
      {FailingOs::Rule{Call::Mkdir, EACCES}, "home/.local/share/borvantel", "brak uprawnień", "no permission"},
      {FailingOs::Rule{Call::Mkdir, EROFS, "borvantel"}, "home/.local/share/borvantel", "tylko do odczytu",
       "a read-only disk"},
      {FailingOs::Rule{Call::Mkdir, EEXIST, "borvantel"}, "home/.local/share/borvantel", "nie jest katalogiem",
       "a file of that name made meanwhile"},
      {FailingOs::Rule{Call::Write, ENOSPC}, "home/.local/share/borvantel/kategorie.txt", "brak miejsca", "a full disk while copying"},
      {FailingOs::Rule{Call::Open, EACCES, "share/borvantel/kategorie"}, "usr/share/borvantel/kategorie.txt",
       "brak uprawnień", "an unreadable default"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    TempTree t;
    installDefaults(t);
    if (!r.rule) t.write("home/.local/share", "not a directory");
    FailingOs fos;
    if (r.rule) fos.fail(*r.rule);
    std::string message;
    {
      platform::ScopedOs guard(fos);
      try {
        run::prepareProgramDirectory(userData(t));
      } catch (const text::Failure& e) {
        message = e.what();
      }
    }
    EXPECT_TRUE(contains(message, t.path(r.named))) << message;
    EXPECT_TRUE(contains(message, r.reason)) << message;
    EXPECT_FALSE(t.exists("home/.local/share/borvantel/kategorie.txt"));  // nothing half-copied
    EXPECT_EQ(temporaryFiles(t), Names{});
  }
}

// Another copy of the program makes each directory just before this one
// tries to.
class RacingOs : public platform::Os {
 public:
  int mkdir(const char* path, mode_t mode) override {
    Os::mkdir(path, mode);
    errno = EEXIST;
    return -1;
  }
};

TEST(ProgramDirectory, ADirectoryMadeMeanwhileByAnotherCopyIsAsGood) {
  TempTree t;
  installDefaults(t);
  RacingOs racing;
  platform::ScopedOs guard(racing);
  EXPECT_EQ(run::prepareProgramDirectory(userData(t)), (Names{"kategorie.txt", "predef.txt"}));
  EXPECT_EQ(t.read("home/.local/share/borvantel/predef.txt"), kPredef);
}

// ---------------------------------------------------------------------------
// borvantel-cli started from an installation laid out in the tree

#ifdef _WIN32
constexpr const char* kDataHome = "APPDATA";
#else
constexpr const char* kDataHome = "XDG_DATA_HOME";
#endif

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

// The CLI copied into usr/bin, run there with `args`.
CliRun installedCli(const TempTree& t, const std::vector<std::string>& args) {
  const std::filesystem::path built(BORVANTEL_CLI);
  const std::string copy = t.path("usr/bin/" + built.filename().string());
  if (!t.exists("usr/bin/" + built.filename().string())) std::filesystem::copy_file(built, copy);
  std::vector<std::string> all = {copy};
  all.insert(all.end(), args.begin(), args.end());
  CliRun run;
  run.status = testing::runProcess(all, {"", t.path("cli.stdout"), t.path("cli.stderr")});
  run.out = t.read("cli.stdout");
  run.err = t.read("cli.stderr");
  t.remove("cli.stdout");
  t.remove("cli.stderr");
  return run;
}

TEST(InstalledCli, FillsTheUsersDataDirectoryOnFirstUseAndAppendsThere) {
  TempTree t;
  installDefaults(t);
  const ScopedVariable data(kDataHome, t.path("data"));
  const std::string dir = t.path("data/borvantel");

  for (const char* info : {"--help", "--version"}) {
    const CliRun run = installedCli(t, {info});
    EXPECT_EQ(run.status, 0) << info;
    EXPECT_FALSE(t.exists("data")) << info << " created the directory";
  }
  EXPECT_TRUE(contains(installedCli(t, {"--help"}).out, "„" + dir + "”"));

  CliRun run = installedCli(t, {"categories"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(contains(run.out, "MOSTY\nTORY\n")) << run.out;
  EXPECT_TRUE(contains(run.err, "Skopiowano kategorie.txt, predef.txt")) << run.err;  // the user is told where
  EXPECT_TRUE(contains(run.err, dir)) << run.err;

  run = installedCli(t, {"add-category", "NOWA"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");  // nothing copied the second time
  EXPECT_EQ(t.read("data/borvantel/kategorie.txt"), std::string(kKategorie) + "NOWA\r\n");
  EXPECT_EQ(t.read("usr/share/borvantel/kategorie.txt"), kKategorie);  // the defaults stay
}

TEST(InstalledCli, OwnFilesBesideItOrTheOptionDecideWhereACategoryGoes) {
  struct Row {
    bool beside;
    const char* option;
    const char* expected;
    const char* why;
  };
  const Row rows[] = {
      {false, nullptr, "data/borvantel", "the user's data directory"},
      {true, nullptr, "usr/bin", "a portable copy"},
      {true, "inny", "inny", "the option"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    TempTree t;
    installDefaults(t);
    const ScopedVariable data(kDataHome, t.path("data"));
    if (r.beside) t.write("usr/bin/kategorie.txt", kKategorie);
    if (r.option) t.mkdir(r.option);
    std::vector<std::string> options;
    if (r.option) options = {"--program-dir", t.path(r.option)};
    std::vector<std::string> help = options;
    help.emplace_back("--help");
    EXPECT_TRUE(contains(installedCli(t, help).out, "„" + t.path(r.expected) + "”"));
    std::vector<std::string> add = options;
    add.insert(add.end(), {"add-category", "NOWA"});
    EXPECT_EQ(installedCli(t, add).status, 0);
    EXPECT_TRUE(contains(t.read(std::string(r.expected) + "/kategorie.txt"), "NOWA\r\n"));
    EXPECT_EQ(t.exists("data"), r.expected == std::string("data/borvantel"));
  }
}

TEST(InstalledCli, ADataDirectoryThatCannotBeMadeIsToldWithTheReason) {
  TempTree t;
  installDefaults(t);
  t.write("plik", "");
  const ScopedVariable data(kDataHome, t.path("plik"));
  const CliRun run = installedCli(t, {"categories"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(contains(run.err, "„" + t.path("plik/borvantel") + "”")) << run.err;
  EXPECT_TRUE(contains(run.err, "nie jest katalogiem")) << run.err;
}

}  // namespace
}  // namespace borvantel
