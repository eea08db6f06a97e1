// Text helpers: the Windows-1250 case tables, line splitting and reading,
// records, relative paths, list collation and the safe file primitives.
#include "support/temp_tree.h"
#include "text/codepage.h"
#include "text/collation.h"
#include "text/files.h"
#include "text/lines.h"
#include "platform/os.h"
#include "text/paths.h"
#include "text/records.h"

#include <gtest/gtest.h>

#ifndef _WIN32
// Linux only: the tests that hold the checked-in code page tables against ICU.
#include "../tools/cp1250_icu.h"
#endif

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace borvantel::text {
namespace {

using platform::Directory, platform::Fd, platform::FileStat, platform::Os, platform::ScopedOs;
using platform::kPathSeparator, platform::os;
using testing::FailingOs, testing::TempTree, testing::cp;
using Call = FailingOs::Call;
using Lines = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Case mapping over the code page

struct CasePair {
  unsigned char upper;
  unsigned char lower;
  const char* letter;
};

TEST(CodePage, FoldsAndUpperCasesEveryLetterPairOfThePage) {
  const CasePair pairs[] = {
      {'A', 'a', "A"},    {'Z', 'z', "Z"},
      // the nine Polish letters with diacritics
      {0xA5, 0xB9, "Ą"}, {0xC6, 0xE6, "Ć"}, {0xCA, 0xEA, "Ę"}, {0xA3, 0xB3, "Ł"}, {0xD1, 0xF1, "Ń"},
      {0xD3, 0xF3, "Ó"}, {0x8C, 0x9C, "Ś"}, {0x8F, 0x9F, "Ź"}, {0xAF, 0xBF, "Ż"},
      // other letters of the page: Czech, Slovak, Hungarian, Romanian, German
      {0x8A, 0x9A, "Š"}, {0x8D, 0x9D, "Ť"}, {0x8E, 0x9E, "Ž"}, {0xBC, 0xBE, "Ľ"}, {0xC8, 0xE8, "Č"},
      {0xD8, 0xF8, "Ř"}, {0xD9, 0xF9, "Ů"}, {0xDB, 0xFB, "Ű"}, {0xAA, 0xBA, "Ş"}, {0xDE, 0xFE, "Ţ"},
      {0xC4, 0xE4, "Ä"}, {0xD6, 0xF6, "Ö"}, {0xDC, 0xFC, "Ü"}, {0xC5, 0xE5, "Ĺ"}, {0xD0, 0xF0, "Đ"},
  };
  for (const auto& p : pairs) {
    SCOPED_TRACE(p.letter);
    EXPECT_EQ(cp(p.letter), std::string(1, static_cast<char>(p.upper)));  // the table row is right
    EXPECT_EQ(foldByte(p.upper), p.lower);
    EXPECT_EQ(foldByte(p.lower), p.lower);
    EXPECT_EQ(upperByte(p.lower), p.upper);
    EXPECT_EQ(upperByte(p.upper), p.upper);
  }
}

TEST(CodePage, LeavesBytesWithoutCasePartnerAlone) {
  // Digits, punctuation, the undefined bytes, ß and µ (whose capitals are not
  // in the page), × and ÷, the no-break space, NUL.
  const unsigned char unchanged[] = {'0', '9', '_', '\\', '*', '(', ')', ' ', 0x00, 0x81, 0x83, 0x88, 0x90,
                                     0x98, 0xDF, 0xB5, 0xD7, 0xF7, 0xA0, 0x80, 0x84, 0xFF, '@', '[', '`', '{'};
  for (unsigned char b : unchanged) {
    SCOPED_TRACE(static_cast<int>(b));
    EXPECT_EQ(foldByte(b), b);
    EXPECT_EQ(upperByte(b), b);
  }
}

TEST(CodePage, CaseMappingIsConsistentOverAllBytes) {
  for (int i = 0; i < 256; ++i) {
    const auto b = static_cast<unsigned char>(i);
    SCOPED_TRACE(i);
    // Folding and upper-casing are idempotent and agree with each other.
    EXPECT_EQ(foldByte(foldByte(b)), foldByte(b));
    EXPECT_EQ(upperByte(upperByte(b)), upperByte(b));
    EXPECT_EQ(foldByte(upperByte(b)), foldByte(b));
    EXPECT_EQ(upperByte(foldByte(b)), upperByte(b));
    // ASCII outside the letters never changes.
    if (b < 0x80 && !((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z'))) {
      EXPECT_EQ(foldByte(b), b);
    }
  }
}

TEST(CodePage, UpperCasesAndFoldsWholeStrings) {
  EXPECT_EQ(toUpper(cp("zażółć gęślą jaźń")), cp("ZAŻÓŁĆ GĘŚLĄ JAŹŃ"));
  EXPECT_EQ(toFolded(cp("ZAŻÓŁĆ GĘŚLĄ JAŹŃ")), cp("zażółć gęślą jaźń"));
  EXPECT_EQ(toUpper(std::string_view("a\0b", 3)), std::string("A\0B", 3));  // NUL kept in place
  EXPECT_EQ(toUpper(""), "");
}

TEST(CodePage, ComparesAndSearchesIgnoringCase) {
  // equalsIgnoreCase: Polish capitals equal their small letters; accents still count.
  EXPECT_TRUE(equalsIgnoreCase(kGlownyScenery, cp("główny scenery")));
  EXPECT_TRUE(equalsIgnoreCase(cp("ŁĄKA.INC"), cp("łąka.inc")));
  EXPECT_FALSE(equalsIgnoreCase(cp("ląka.inc"), cp("łąka.inc")));  // ł is not l
  EXPECT_FALSE(equalsIgnoreCase("abc", "abcd"));

  struct Row {
    const char* haystack;
    const char* needle;
    bool found;
  };
  const Row rows[] = {
      {"D:\\TRASA\\Scenery\\x", "scenery", true},  // found in the middle, other case
      {"wiadukt_MOST2.inc", "most", true},
      {"abc", "", true},                            // empty needle is everywhere
      {"", "", true},
      {"", "a", false},
      {"ab", "abc", false},                         // needle longer than haystack
      {"xxab", "AB", true},                         // at the very end
      {"aab", "ab", true},                          // after a false start
      {"scener", "scenery", false},                 // cut short at the end
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.haystack) + " / " + r.needle);
    EXPECT_EQ(containsIgnoreCase(r.haystack, r.needle), r.found);
  }
  EXPECT_TRUE(containsIgnoreCase(cp("STARY_ŻÓŁW.inc"), cp("żółw")));
  EXPECT_FALSE(containsIgnoreCase(cp("stary_zolw.inc"), cp("żółw")));

  EXPECT_TRUE(startsWithIgnoreCase("Tory_1.inc", "tor"));
  EXPECT_FALSE(startsWithIgnoreCase("to", "tor"));
  EXPECT_TRUE(endsWithIgnoreCase("x.INC", ".inc"));
  EXPECT_FALSE(endsWithIgnoreCase("inc", ".inc"));  // shorter than the suffix
  EXPECT_TRUE(endsWithIgnoreCase(".scn", ".SCN"));

  EXPECT_EQ(compareIgnoreCase(cp("Łąka"), cp("łĄKA")), 0);
  EXPECT_LT(compareIgnoreCase("abc", "ABD"), 0);
  EXPECT_GT(compareIgnoreCase("ABD", "abc"), 0);
  EXPECT_LT(compareIgnoreCase("ab", "AB c"), 0);  // a prefix comes first
}

TEST(CodePage, ConvertsBetweenWindows1250AndUtf8) {
  EXPECT_EQ(cp("zażółć"), "za\xBF\xF3\xB3\xE6");
  EXPECT_EQ(decodeCp1250("za\xBF\xF3\xB3\xE6"), "zażółć");
  EXPECT_EQ(decodeCp1250(kGlownyScenery), "GŁÓWNY SCENERY");
  EXPECT_EQ(decodeCp1250("\x80"), "€");
  // Every byte decodes to valid UTF-8, NUL included.
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_TRUE(isValidUtf8(decodeCp1250(all)));
  // Characters outside the page and input that is not UTF-8 are refused.
  EXPECT_FALSE(encodeCp1250("日本").has_value());
  EXPECT_FALSE(encodeCp1250("ā").has_value());            // never silently replaced by "a"
  EXPECT_FALSE(encodeCp1250("\xE2\x84\xAA").has_value());  // the Kelvin sign is not "K"
  EXPECT_FALSE(encodeCp1250("Ａ").has_value());            // nor a full-width letter by "A"
  EXPECT_FALSE(encodeCp1250("ł\xFF").has_value());
  // Invisible characters (zero-width space, byte order mark) are left out.
  EXPECT_EQ(encodeCp1250("za\u200B\uFEFFł"), std::optional<std::string>("za\xB3"));
  EXPECT_EQ(encodeCp1250(""), std::optional<std::string>(""));
}

TEST(CodePage, ValidatesUtf8AndShowsNamesReadably) {
  EXPECT_TRUE(isValidUtf8("łąka.inc"));
  EXPECT_TRUE(isValidUtf8(""));
  EXPECT_FALSE(isValidUtf8("\xB3\xB9ka.inc"));   // Windows-1250 "łąka"
  EXPECT_FALSE(isValidUtf8("\xC0\x80"));         // overlong NUL
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));     // surrogate
  EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // past U+10FFFF
  EXPECT_FALSE(isValidUtf8("\xC5"));             // cut short
#ifdef _WIN32
  EXPECT_EQ(displayName("\xC5\x82"), "Ĺ‚");  // names are Windows-1250 here, even bytes that form UTF-8 "ł"
#else
  EXPECT_EQ(displayName("łąka.inc"), "łąka.inc");        // UTF-8 name kept
#endif
  EXPECT_EQ(displayName("\xB3\xB9ka.inc"), "łąka.inc");  // Windows-1250 name decoded
}

// UTF-8 of one Unicode scalar value.
std::string utf8Of(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
  return out;
}

TEST(CodePage, EveryByteComesBackFromItsCharacter) {
  std::string all;
  for (int i = 0; i < 256; ++i) {
    const auto b = static_cast<unsigned char>(i);
    SCOPED_TRACE(i);
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(decodeCp1250(one), utf8Of(unicodeOfByte(b)));
    if (unicodeOfByte(b) != 0xFFFD) {
      EXPECT_EQ(encodeCp1250(decodeCp1250(one)), one);
    }
    all.push_back(static_cast<char>(b));
  }
  EXPECT_EQ(encodeCp1250(decodeCp1250(all)), all);  // the whole page in one string, NUL included
  EXPECT_FALSE(encodeCp1250("\xEF\xBF\xBD").has_value());  // U+FFFD marks "no character"; it is not one
}

TEST(CodePage, TypedTextIsEncodedOrRefusedNamingTheFirstCharacterThatDoesNotFit) {
  EXPECT_EQ(encodeTyped("łąka"), cp("łąka"));
  EXPECT_EQ(encodeTyped("a\u200Bb"), "ab");  // an invisible character is left out, not refused
  const struct {
    std::string typed;
    std::string named;  // the character the message names
    const char* why;
  } rows[] = {
      {"łąka 日本", "„日”", "the first character outside the code page"},
      {"ab\xC3(", "„\xEF\xBF\xBD”", "a byte that is not UTF-8"},
      {"x\xF0\x9F\x98\x80", "„\xF0\x9F\x98\x80”", "a character of four bytes"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.why);
    try {
      encodeTyped(row.typed);
      ADD_FAILURE() << "not refused";
    } catch (const Failure& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Znaku " + row.named, 0), 0u) << e.what();
    }
  }
}

TEST(CodePage, EncodingRefusesWhatIsNotUtf8) {
  struct Row {
    std::string utf8;
    const char* why;
  };
  const Row rows[] = {
      {"a\x80", "a continuation byte without a lead"},
      {"\xC5", "cut short at the end"},
      {"\xC5" "a", "a lead byte followed by ASCII"},
      {"\xC1\x81", "overlong \"A\""},
      {"\xE0\x80\x80", "overlong NUL in three bytes"},
      {"\xED\xA0\x80", "a surrogate"},
      {"\xF4\x90\x80\x80", "past U+10FFFF"},
      {"\xF8\x88\x80\x80\x80", "a five-byte form"},
      {"\xB3\xB9ka", "Windows-1250 already"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    EXPECT_FALSE(encodeCp1250(r.utf8).has_value());
    EXPECT_FALSE(encodeCp1250(cp("łąka ") + r.utf8).has_value());  // after good text too
  }
}

#ifndef _WIN32
TEST(CodePage, CheckedInTablesStillMatchIcu) {
  // Regenerate with scripts/gen-cp1250-table.sh when this fails after an ICU update.
  const tools::Cp1250Tables icu = tools::deriveCp1250Tables();
  for (int i = 0; i < 256; ++i) {
    const auto b = static_cast<unsigned char>(i);
    SCOPED_TRACE(i);
    EXPECT_EQ(unicodeOfByte(b), icu.unicode[b]);
    EXPECT_EQ(foldByte(b), icu.lower[b]);
    EXPECT_EQ(upperByte(b), icu.upper[b]);
  }
}

TEST(CodePage, EncodesExactlyTheCharactersIcuEncodes) {
  const tools::IcuConverter conv = tools::openIcuCp1250();
  std::set<unsigned char> reached;
  bool leftOut = false;
  // Every code point but the surrogates (which are not UTF-8); the first
  // disagreement ends the run.
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const std::optional<std::string> ours = encodeCp1250(utf8Of(c));
    const std::optional<std::string> theirs = tools::icuEncode(conv.get(), static_cast<UChar32>(c));
    ASSERT_EQ(ours, theirs) << "U+" << std::hex << static_cast<uint32_t>(c);
    if (ours && ours->size() == 1) reached.insert(static_cast<unsigned char>((*ours)[0]));
    if (ours && ours->empty()) leftOut = true;
  }
  EXPECT_TRUE(leftOut) << "ICU no longer leaves any character out: the table's list has no use";
  // Every byte that stands for a character was reached from it.
  for (int i = 0; i < 256; ++i) {
    const auto b = static_cast<unsigned char>(i);
    EXPECT_EQ(reached.count(b) == 1, unicodeOfByte(b) != 0xFFFD) << i;
  }
}
#endif

// ---------------------------------------------------------------------------
// Lines

// An independent statement of the rule: CR LF, lone CR and lone LF end a
// line; a final line end does not begin another line.
Lines referenceLines(std::string_view text) {
  Lines out;
  std::string current;
  bool open = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      out.push_back(current);
      current.clear();
      open = false;
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      current.push_back(c);
      open = true;
    }
  }
  if (open) out.push_back(current);
  return out;
}

Lines splitLines(std::string_view text) {
  Lines out;
  LineSplitter splitter(text);
  std::string_view line;
  while (splitter.next(line)) out.emplace_back(line);
  return out;
}

// With `batch` > 1 the lines come in batches, as the conversion takes them:
// one next(), then nextBuffered() up to `batch` lines, and the batch's views
// are read only once it is complete (they must all still hold their lines).
Lines readLines(const TempTree& t, std::string_view content, size_t blockSize, size_t batch = 1) {
  t.write("lines.txt", content);
  const std::string path = t.path("lines.txt");
  Fd fd = openForReading(path);
  LineReader reader(fd.get(), path, blockSize);
  Lines out;
  std::string_view line;
  std::vector<std::string_view> views;
  while (reader.next(line)) {
    views.assign(1, line);
    while (views.size() < batch && reader.nextBuffered(line)) views.push_back(line);
    out.insert(out.end(), views.begin(), views.end());
    EXPECT_EQ(reader.lineNumber(), out.size());
  }
  EXPECT_FALSE(reader.next(line));  // stays at the end
  EXPECT_FALSE(reader.nextBuffered(line));
  return out;
}

struct LineCase {
  std::string text;
  Lines lines;
  const char* why;
};

std::vector<LineCase> lineCases() {
  return {
      {"", {}, "empty text has no lines"},
      {"a", {"a"}, "text without line end is one line"},
      {"a\r\nb\r\n", {"a", "b"}, "CR LF ends a line; the final one does not begin another"},
      {"a\rb", {"a", "b"}, "a lone CR ends a line"},
      {"a\nb\n", {"a", "b"}, "a lone LF ends a line"},
      {"a\r\n", {"a"}, "one line with its end"},
      {"\r\n", {""}, "a line end alone is one empty line"},
      {"\n\n", {"", ""}, "two LFs are two empty lines"},
      {"a\r\n\r\nb", {"a", "", "b"}, "an empty line in the middle"},
      {"a\n\rb", {"a", "", "b"}, "LF CR is two line ends, not one"},
      {"a\r\r\nb", {"a", "", "b"}, "CR then CR LF"},
      {"a\nb\r\nc\rd", {"a", "b", "c", "d"}, "mixed line ends"},
      {std::string("a\0b\r\n\0", 6), {std::string("a\0b", 3), std::string(1, '\0')}, "NUL is an ordinary byte"},
      {"  x  \r\n", {"  x  "}, "spaces kept"},
  };
}

TEST(Lines, SplitterEndsLinesAtCrLfLoneCrAndLoneLf) {
  for (const auto& c : lineCases()) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(splitLines(c.text), c.lines);
    EXPECT_EQ(referenceLines(c.text), c.lines);  // the reference agrees with the table
  }
}

TEST(Lines, ReaderGivesTheSameLinesForAnyBlockSize) {
  TempTree t;
  for (const auto& c : lineCases()) {
    SCOPED_TRACE(c.why);
    for (size_t block : {size_t{16}, size_t{17}, size_t{64 * 1024}}) {
      EXPECT_EQ(readLines(t, c.text, block), c.lines) << "block " << block;
      EXPECT_EQ(readLines(t, c.text, block, 4), c.lines) << "block " << block << ", in batches";
    }
  }
}

TEST(Lines, CrAtTheEndOfABlockFollowedByLfInTheNextIsOneLineEnd) {
  TempTree t;
  struct Row {
    std::string text;
    size_t block;
    Lines lines;
    const char* why;
  };
  const std::string x15(15, 'x');
  const std::string k64(64 * 1024 - 1, 'k');
  const Row rows[] = {
      {x15 + "\r\ny", 16, {x15, "y"}, "CR is the 16th byte, LF the 17th: one line end"},
      {x15 + "\r\n", 16, {x15}, "the same at the end of the file: no empty line after it"},
      {x15 + "\ry", 16, {x15, "y"}, "a lone CR at the block end"},
      {x15 + "\r", 16, {x15}, "a lone CR as the last byte of the file, on the block end"},
      {x15 + "\r\r\n", 16, {x15, ""}, "CR at the block end, then CR LF"},
      // The boundary falls inside a later block, after earlier lines were consumed.
      {"ab\r\n" + std::string(11, 'c') + "\r\n" + std::string(14, 'd') + "\r\ne", 16,
       {"ab", std::string(11, 'c'), std::string(14, 'd'), "e"}, "CRs at later block ends"},
      {k64 + "\r\nz", 64 * 1024, {k64, "z"}, "CR at the end of the default 64 KiB block"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    EXPECT_EQ(readLines(t, r.text, r.block), r.lines);
    EXPECT_EQ(readLines(t, r.text, r.block, 64), r.lines) << "in batches";
  }
}

TEST(Lines, ReaderAndSplitterAgreeWithTheRuleOnRandomTexts) {
  TempTree t;
  std::mt19937 rng(20240601);  // fixed seed: the same texts on every run
  const char alphabet[] = {'a', 'b', '\r', '\n', '\0', ' '};
  for (int round = 0; round < 400; ++round) {
    std::string text(rng() % 90, 'a');
    for (char& c : text) c = alphabet[rng() % sizeof(alphabet)];
    const Lines expected = referenceLines(text);
    SCOPED_TRACE(round);
    ASSERT_EQ(splitLines(text), expected);
    // Every line but an unfinished last one has its end.
    const bool unfinished = !text.empty() && text.back() != '\r' && text.back() != '\n';
    ASSERT_EQ(countLineEnds(text.data(), text.size()), expected.size() - (unfinished ? 1 : 0));
    ASSERT_EQ(readLines(t, text, 16), expected);
    ASSERT_EQ(readLines(t, text, 16, 1 + rng() % 8), expected);
  }
}

// A look at the whole rest before the first line changes nothing of what
// the reader then hands out; a rest longer than the block is not looked at.
TEST(Lines, PeekingAtTheRestLeavesTheLinesAsTheyAre) {
  TempTree t;
  for (const auto& c : lineCases()) {
    SCOPED_TRACE(c.why);
    t.write("lines.txt", c.text);
    const std::string path = t.path("lines.txt");
    for (const size_t block : {size_t{16}, size_t{64 * 1024}}) {
      Fd fd = openForReading(path);
      LineReader reader(fd.get(), path, block);
      std::string_view rest;
      const bool whole = reader.peekRest(rest);
      EXPECT_EQ(whole, c.text.size() < block) << "block " << block;
      if (whole) {
        EXPECT_EQ(rest, c.text);
      }
      Lines out;
      for (std::string_view line; reader.next(line);) out.emplace_back(line);
      EXPECT_EQ(out, c.lines) << "block " << block;
    }
  }
}

TEST(Lines, ReaderCopesWithReadsOfOneByte) {
  TempTree t;
  FailingOs fos;
  fos.limitReads(1);
  ScopedOs guard(fos);
  for (const auto& c : lineCases()) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(readLines(t, c.text, 16), c.lines);
    EXPECT_EQ(readLines(t, c.text, 16, 3), c.lines);
  }
}

TEST(Lines, ReaderHandsOutVeryLongLinesWhole) {
  TempTree t;
  const std::string longLine(3 * 1024 * 1024 + 7, 'L');
  const Lines lines = readLines(t, longLine + "\r\nnext\nlast", 16);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], longLine);
  EXPECT_EQ(lines[1], "next");
  EXPECT_EQ(lines[2], "last");
}

TEST(Lines, ReadErrorNamesTheFile) {
  TempTree t;
  t.write("f.txt", "a\r\nb\r\n");
  const std::string path = t.path("f.txt");
  Fd fd = openForReading(path);
  FailingOs fos;
  fos.fail({Call::Read, EIO});
  ScopedOs guard(fos);
  LineReader reader(fd.get(), path);
  std::string_view line;
  try {
    reader.next(line);
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_EQ(e.path(), path);
    EXPECT_EQ(e.error(), EIO);
    EXPECT_NE(std::string(e.what()).find("f.txt"), std::string::npos) << e.what();
  }
}

TEST(Lines, AppendLineEndsWithCrLf) {
  std::string out;
  appendLine(out, "a b");
  appendLine(out, "");
  EXPECT_EQ(out, "a b\r\n\r\n");
}

// ---------------------------------------------------------------------------
// Records

TEST(Records, NormalisesRunsOfSpacesAndTrims) {
  struct Row {
    const char* in;
    const char* out;
  };
  const Row rows[] = {
      {"   *most    MOSTY  ", "*most MOSTY"},  // runs collapsed, outer spaces gone
      {"a b", "a b"},                          // already normal
      {"", ""},
      {"     ", ""},                           // only spaces: nothing left
      {"a\tb", "a\tb"},                        // a tab is an ordinary character
      {" a \t  b ", "a \t b"},
      {"  //$infotype:   las  ", "//$infotype: las"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.in);
    EXPECT_EQ(normaliseSpaces(r.in), r.out);
  }
}

TEST(Records, SplitsAtEverySpace) {
  using V = std::vector<std::string_view>;
  EXPECT_EQ(splitAtSpaces("a b"), (V{"a", "b"}));
  EXPECT_EQ(splitAtSpaces("a  b"), (V{"a", "", "b"}));  // adjacent spaces give an empty field
  EXPECT_EQ(splitAtSpaces(" a"), (V{"", "a"}));
  EXPECT_EQ(splitAtSpaces("a "), (V{"a", ""}));
  EXPECT_EQ(splitAtSpaces(""), (V{""}));
  EXPECT_EQ(splitAtSpaces("a\tb c"), (V{"a\tb", "c"}));
}

TEST(Records, TakesExactlyTwoFields) {
  struct Row {
    const char* line;
    bool two;
    const char* first;
    const char* second;
  };
  const Row rows[] = {
      {"linie\\a.inc MOSTY", true, "linie\\a.inc", "MOSTY"},
      {"a b c", false, "", ""},       // three fields
      {"abc", false, "", ""},         // one field
      {"a  b", false, "", ""},        // two adjacent spaces: three fields
      {"", false, "", ""},
      {"a\tb c", true, "a\tb", "c"},  // the tab stays inside the first field
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.line);
    TwoFields f;
    ASSERT_EQ(exactlyTwoFields(r.line, f), r.two);
    if (r.two) {
      EXPECT_EQ(f.first, r.first);
      EXPECT_EQ(f.second, r.second);
    }
  }
  TwoFields f;
  ASSERT_TRUE(leadingTwoFields("a b c", f));  // further fields ignored
  EXPECT_EQ(f.first, "a");
  EXPECT_EQ(f.second, "b");
  EXPECT_FALSE(leadingTwoFields("abc", f));
}

// ---------------------------------------------------------------------------
// Paths

TEST(Paths, SplitsRelativePathsAndAppliesTheDirectoryLabelRule) {
  struct Row {
    const char* item;
    const char* file;
    const char* dir;
    std::string label;
  };
  const Row rows[] = {
      {"linie\\a.inc", "a.inc", "linie\\", "linie\\"},
      {"dworzec.inc", "dworzec.inc", "", std::string(kGlownyScenery)},  // no directory part
      {"a\\b\\c.inc", "c.inc", "a\\b\\", "a\\b\\"},                    // two levels keep both
      {"linie/a.inc", "linie/a.inc", "", std::string(kGlownyScenery)},  // only "\" separates
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.item);
    EXPECT_EQ(fileNameOf(r.item), r.file);
    EXPECT_EQ(directoryPartOf(r.item), r.dir);
    EXPECT_EQ(directoryLabel(r.item), r.label);
  }
  EXPECT_EQ(kGlownyScenery, cp("GŁÓWNY SCENERY"));
}

TEST(Paths, TurnsLabelsIntoTargetsAndTestsMembership) {
  EXPECT_EQ(targetFromLabel(kGlownyScenery), "");
  EXPECT_EQ(targetFromLabel(cp("główny scenery")), "");  // ignoring case
  EXPECT_EQ(targetFromLabel("linie\\"), "linie\\");

  struct Row {
    const char* item;
    const char* target;
    bool belongs;
  };
  const Row rows[] = {
      {"linie\\a.inc", "linie\\", true},
      {"LINIE\\b.inc", "linie\\", true},         // ignoring case
      {"linie\\a.inc", "LINIE\\", true},
      {"linie\\stare\\c.inc", "linie\\", false},  // a subdirectory of the target
      {"dworzec.inc", "linie\\", false},
      {"dworzec.inc", "", true},                  // empty target: the scenery directory
      {"linie\\a.inc", "", false},
      {"linie2\\a.inc", "linie\\", false},
      {"xlinie\\a.inc", "linie\\", false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.item) + " in " + r.target);
    EXPECT_EQ(belongsToDirectory(r.item, r.target), r.belongs);
  }
}

TEST(Paths, RefusesRelativePathsThatLeaveTheTree) {
  struct Row {
    std::string path;
    bool safe;
  };
  const Row rows[] = {
      {"a.inc", true},
      {"linie\\a.inc", true},
      {"linie\\..b\\a.inc", true},  // "..b" is a name, not a step up
      {"...\\a.inc", true},
      {"", false},                  // nothing to open
      {"\\a.inc", false},           // absolute
      {"/etc/passwd", false},       // absolute, native form
      {"C:\\a.inc", false},         // drive letter
      {"c:a.inc", false},           // drive-relative
      {"..\\a.inc", false},         // leaves the scenery directory
      {"linie\\..\\..\\a.inc", false},
      {"linie/../a.inc", false},    // with "/" too
      {"linie\\..", false},
      {std::string("a\0b", 3), false},  // NUL cannot be opened
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.path);
    EXPECT_EQ(isSafeRelative(r.path), r.safe);
  }
}

TEST(Paths, ConvertsBetweenNativeAndRelativeForms) {
  using testing::native;
  EXPECT_EQ(nativeToRelative("linie/stare/c.inc"), "linie\\stare\\c.inc");
  EXPECT_EQ(relativeToNative("linie\\stare\\c.inc"), native("linie/stare/c.inc"));
  EXPECT_EQ(fullPath(native("/t/base/scenery"), "linie\\a.inc"), native("/t/base/scenery/linie/a.inc"));
  EXPECT_EQ(fullPath(native("/t/base/scenery"), "a.inc"), native("/t/base/scenery/a.inc"));
  EXPECT_TRUE(fitsRecordField("linie/a.inc"));
  EXPECT_FALSE(fitsRecordField("moje linie/a.inc"));  // a space cannot stand in a record
  // Linux: a "\" in a name would read as a separator. Windows: it is the
  // separator, and no name holds one.
  EXPECT_EQ(fitsRecordField("a\\b.inc"), kPathSeparator == '\\');
  EXPECT_FALSE(fitsRecordField("a\rb.inc"));
  EXPECT_TRUE(fitsOneLine("a b"));
  EXPECT_FALSE(fitsOneLine("a\nb"));
}

TEST(Paths, RunPathsEndWithTheSeparatorAndFindSceneryIgnoringCase) {
  TempTree t;
  const RunPaths p = t.runPaths();
  const auto under = [&](std::string_view rel) { return t.root() + testing::native(rel); };
  EXPECT_EQ(p.sciezka_programu, under("/prog/"));
  EXPECT_EQ(p.sciezka_katalogu, under("/base/"));
  EXPECT_EQ(p.workingFile("p_inc.txt"), under("/base/p_inc.txt"));
  EXPECT_EQ(p.programFile("predef.txt"), under("/prog/predef.txt"));
  EXPECT_EQ(p.relativeOffset(), under("/base/scenery/").size());
  // "/" is taken on Windows too.
  EXPECT_EQ(RunPaths::make(t.root() + "/prog/./x/..//", t.root() + "/base/").sciezka_programu, under("/prog/"));

  // No scenery directory: the usual name, which does not exist.
  EXPECT_EQ(p.sceneryRoot(), under("/base/scenery"));
  // A plain file named "scenery" is not the scenery directory.
  t.write("base/SCENERY", "x");
  EXPECT_EQ(p.sceneryRoot(), under("/base/scenery"));
#ifndef _WIN32
  // (On Windows a file and a directory cannot be named alike ignoring case.)
  // A directory in another case is found.
  t.mkdir("base/Scenery");
  EXPECT_EQ(p.sceneryRoot(), under("/base/Scenery"));
  // An exact "scenery" wins over other cases.
  t.mkdir("base/scenery");
  EXPECT_EQ(p.sceneryRoot(), under("/base/scenery"));
#else
  t.remove("base/SCENERY");
  t.mkdir("base/Scenery");
  EXPECT_EQ(p.sceneryRoot(), under("/base/Scenery"));
#endif
}

// ---------------------------------------------------------------------------
// List order

// Sorts the Windows-1250 form of UTF-8 items, and gives them back as UTF-8.
Lines sortedCp1250(Lines items, TextKind kind) {
  for (auto& s : items) s = cp(s);
  sortForList(items, kind);
  for (auto& s : items) s = decodeCp1250(s);
  return items;
}

Lines sortedText(Lines items) { return sortedCp1250(std::move(items), TextKind::Text); }

TEST(Collation, SortsAscendingIgnoringCaseWithPolishLettersInPlace) {
  struct Row {
    Lines in;
    Lines out;
    const char* why;
  };
  const Row rows[] = {
      {{"DROGI", "AUTA", "BRAK_DEFINICJI"}, {"AUTA", "BRAK_DEFINICJI", "DROGI"}, "the category list after Start"},
      {{"DROGI", "BRAK_DEFINICJI"}, {"BRAK_DEFINICJI", "DROGI"}, "BRAK_DEFINICJI first"},
      {{"b", "ąa", "az", "a"}, {"a", "az", "ąa", "b"}, "ą is a letter after a (after every a-word) and before b"},
      {{"ma", "łaba", "lz"}, {"lz", "łaba", "ma"}, "ł after l"},
      {{"d", "ćma", "cz"}, {"cz", "ćma", "d"}, "ć after c"},
      {{"źle", "żaba", "zz", "ża"}, {"zz", "źle", "ża", "żaba"}, "z, ź, ż"},
      {{"ś", "sz", "t"}, {"sz", "ś", "t"}, "ś after s"},
      {{"C", "b", "A"}, {"A", "b", "C"}, "case ignored"},
      {{"Łąka", "łąkA", "ŁĄKA"}, {"ŁĄKA", "Łąka", "łąkA"}, "equal ignoring case: a fixed order by bytes"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    EXPECT_EQ(sortedText(r.in), r.out);
    Lines reversed(r.in.rbegin(), r.in.rend());
    EXPECT_EQ(sortedText(reversed), r.out);  // independent of the input order
  }
}

TEST(Collation, FileNamesSortTheSameWhetherUtf8OrWindows1250) {
  // "łąka.inc" as UTF-8 and as Windows-1250 both fall between l and m.
  // Windows names are always Windows-1250, so there only that form applies.
#ifdef _WIN32
  for (const std::string& lonka : {std::string("\xB3\xB9ka.inc")}) {
#else
  for (const std::string& lonka : {std::string("łąka.inc"), std::string("\xB3\xB9ka.inc")}) {
#endif
    SCOPED_TRACE(displayName(lonka));
    Lines items = {"m.inc", lonka, "lz.inc", "a.inc"};
    sortForList(items, TextKind::FileName);
    EXPECT_EQ(items, (Lines{"a.inc", "lz.inc", lonka, "m.inc"}));
  }
  EXPECT_TRUE(listLess("A.inc", "b.inc", TextKind::FileName));
  EXPECT_FALSE(listLess("b.inc", "A.inc", TextKind::FileName));
  EXPECT_FALSE(listLess("a.inc", "a.inc", TextKind::FileName));  // irreflexive
}

// The lists as the demo fills them, with Polish letters and case variants
// around them: the order is written out here (Polish alphabet, a ą b c ć d e ę
// ... l ł ... n ń o ó ... s ś ... z ź ż; case ignored; items equal but for
// case by their Windows-1250 bytes), so every platform's collation is held to
// the same lists.
TEST(Collation, DemoListsAndPolishLettersSortTheSameOnEveryPlatform) {
  struct Row {
    TextKind kind;
    Lines order;
    const char* why;
  };
  const Row rows[] = {
      {TextKind::Text,
       {
           "A", "a",  // equal but for case: 'A' (0x41) before 'a' (0x61)
           "az", "ąb",  // ą after every a-word
           "BRAK_DEFINICJI", "BUDYNKI",
           "cz", "Ćma", "ćwierć",  // ć after c; m before w
           "DROGI", "DRZEWA",
           "ez", "ęa",
           "konie", "koń",  // n before ń at the third letter, whatever follows
           "lz", "ŁĄKA", "Łąka", "łąka",  // ł after l; case variants by bytes: Ą 0xA5 < ą 0xB9, Ł 0xA3 < ł 0xB3
           "Łódź",  // ą before ó
           "MOSTY",
           "owca", "ósmy",  // ó after every o-word
           "STACJE", "SYGNALIZACJA_KOLEJOWA", "sz",
           "śnieg", "ŚWIATŁA",
           "TORY",
           "zz", "źle", "Żaba", "żaba",  // z, ź, ż; Ż 0xAF < ż 0xBF
       },
       "the category list after Start: the demo's categories among Polish words"},
      {TextKind::FileName,
       {
           "10_most.inc", "2_most.inc",  // digits before letters, compared as text
           "drzewa\\brzoza.inc",
           "drzewa\\dab.inc", "drzewa\\dąb.inc",
           "drzewa\\krzaki.inc",
           "drzewa\\las_mieszany.inc",
           "drzewa\\Sosna.INC", "drzewa\\sosna.inc",  // equal but for case: 'S' before 's'
           "linie\\koziol_oporowy.inc",
           "linie\\most_kratowy.inc",
           "linie\\przejazd_drogowy.inc",
           "linie\\rozjazd_zwyczajny.inc",
           "linie\\slup_trakcyjny.inc",
           "linie\\stare\\kladka.inc",
           "linie\\stare\\nasyp_stary.inc",
           "linie\\stare\\przepust.inc",
           "linie\\stare\\semafor_ksztaltowy.inc",
           "linie\\tor_szlakowy.inc",
           "linie\\wiadukt_drogowy.inc",
           "Łąka.inc", "łąka.inc",  // a file of the scenery directory itself, between l and s
           "stacje\\budynek_dworca.inc",
           "stacje\\lampa_peronowa.inc",
           "stacje\\lawka.inc",
           "stacje\\peron_wyspowy.inc",
           "stacje\\wiata_peronowa.inc",
           "tarcza_ostrzegawcza.inc",
           "zażółć.inc", "żuraw.inc",
       },
       "the include-file list: the demo's files with Polish names among them"},
      {TextKind::FileName,
       {
           // Only punctuation against digits and letters: the order among
           // punctuation marks themselves is not the same everywhere.
           "most-kratowy.inc", "most1.inc", "mostek.inc",  // punctuation, then digits, then letters
           "stare\\kladka.inc", "stare1.inc", "starek.inc",
           "tor_szlakowy.inc", "tory.inc",
       },
       "punctuation ('\\', '_', '-') before digits, digits before letters"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    Lines reversed(r.order.rbegin(), r.order.rend());
    EXPECT_EQ(sortedCp1250(reversed, r.kind), r.order);
    Lines shuffled = r.order;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(1250));
    EXPECT_EQ(sortedCp1250(shuffled, r.kind), r.order);
  }
}

TEST(Collation, SortHandlesLongItemsAndManyItems) {
  Lines items;
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) items.push_back(std::string(1 + rng() % 300, static_cast<char>('a' + rng() % 26)));
  Lines sorted = items;
  sortForList(sorted, TextKind::Text);
  ASSERT_EQ(sorted.size(), items.size());
  for (size_t i = 1; i < sorted.size(); ++i) ASSERT_FALSE(listLess(sorted[i], sorted[i - 1], TextKind::Text)) << i;
  std::sort(items.begin(), items.end());
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, items);  // nothing lost or duplicated
}

// ---------------------------------------------------------------------------
// File primitives

// A call a signal interrupts is made again, in every reading and writing
// helper: an interruption is no failure to report.
TEST(Files, CallsInterruptedOnceAreMadeAgain) {
  const testing::TempTree tree;
  const std::string content = "pierwszy\r\ndrugi\r\n";
  tree.write("f.txt", content);
  const std::string path = tree.path("f.txt");
  const struct {
    const char* what;
    Call call;
    std::function<void()> act;
  } rows[] = {
      {"reading a whole file", Call::Read, [&] { EXPECT_EQ(readWholeFile(path), content); }},
      {"reading lines", Call::Read, [&] { EXPECT_EQ(readRecords(path), (std::vector<std::string>{"pierwszy", "drugi"})); }},
      {"writing", Call::Write,
       [&] {
         const Fd fd(platform::Os().open(tree.path("g.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
         writeAll(fd.get(), content, tree.path("g.txt"));
         EXPECT_EQ(tree.read("g.txt"), content);
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    testing::FailingOs os;
    os.fail({row.call, EINTR, "", "", 0, 1});
    {
      ScopedOs guard(os);
      row.act();
    }
    EXPECT_EQ(os.failures(), 1u);
  }
}

TEST(Files, TwoByteRuleDecidesWhetherAFileHoldsRecords) {
  TempTree t;
  EXPECT_FALSE(holdsRecords(t.path("missing.txt")));
  EXPECT_FALSE(fileSize(t.path("missing.txt")).has_value());
  t.write("zero.txt", "");
  t.write("one.txt", "x");
  t.write("two.txt", "ab");
  EXPECT_FALSE(holdsRecords(t.path("zero.txt")));
  EXPECT_FALSE(holdsRecords(t.path("one.txt")));
  EXPECT_TRUE(holdsRecords(t.path("two.txt")));
  EXPECT_EQ(readRecords(t.path("one.txt")), Lines{});  // a 1-byte file is never read
  EXPECT_EQ(readRecords(t.path("two.txt")), Lines{"ab"});
  EXPECT_EQ(readRecords(t.path("missing.txt")), Lines{});
  t.write("lines.txt", "a\r\nb\nc\rd");
  EXPECT_EQ(readRecords(t.path("lines.txt")), (Lines{"a", "b", "c", "d"}));
  // forEachRecord stops when asked.
  Lines seen;
  forEachRecord(t.path("lines.txt"), [&](std::string_view l) {
    seen.emplace_back(l);
    return seen.size() < 2;
  });
  EXPECT_EQ(seen, (Lines{"a", "b"}));
}

TEST(Files, AppendStartsOnANewLineWhenTheFileDoesNotEndWithALineEnd) {
  struct Row {
    std::optional<std::string> before;
    std::string after;
    const char* why;
  };
  const Row rows[] = {
      {std::nullopt, "x y\r\n", "a missing file is created"},
      {"", "x y\r\n", "an empty file gets the record alone"},
      {"a", "a\r\nx y\r\n", "a 1-byte file without line end gets CR LF first"},
      {"a b", "a b\r\nx y\r\n", "last record without line end: CR LF first"},
      {"a b\r\n", "a b\r\nx y\r\n", "ends with CR LF: appended directly"},
      {"a b\n", "a b\nx y\r\n", "ends with a lone LF: that is a line end"},
      {"a b\r", "a b\rx y\r\n", "ends with a lone CR: that is a line end"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    TempTree t;
    if (r.before) t.write("f.txt", *r.before);
    appendRecords(t.path("f.txt"), "x y\r\n");
    EXPECT_EQ(t.read("f.txt"), r.after);
  }
  TempTree t;
  appendRecords(t.path("nothing.txt"), "");
  EXPECT_FALSE(t.exists("nothing.txt"));  // nothing to append: no file created
}

TEST(Files, FailedAppendLeavesTheFileExactlyAsItWas) {
  struct Row {
    std::optional<std::string> before;
    FailingOs::Rule rule;
    size_t writeLimit;
    const char* why;
  };
  const Row rows[] = {
      {"a b", {Call::Write, ENOSPC}, 0, "disk full at once"},
      {"a b\r\n", {Call::Write, ENOSPC, "", "", 1}, 3, "disk full after part of the data was written"},
      {"a b", {Call::Fsync, EIO}, 0, "the data cannot be made durable"},
      {std::nullopt, {Call::Write, ENOSPC}, 0, "a missing file stays missing"},
      {"a b", {Call::Open, EACCES}, 0, "the file cannot be opened"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    TempTree t;
    if (r.before) t.write("prog/f.txt", *r.before);
    const auto before = t.snapshot();
    FailingOs fos;
    fos.fail(r.rule);
    fos.limitWrites(r.writeLimit);
    {
      ScopedOs guard(fos);
      try {
        appendRecords(t.path("prog/f.txt"), "x y\r\nz w\r\n");
        ADD_FAILURE() << "no error";
      } catch (const FileError& e) {
        EXPECT_EQ(e.path(), t.path("prog/f.txt"));
        EXPECT_NE(std::string(e.what()).find("f.txt"), std::string::npos) << e.what();
      }
    }
    EXPECT_GE(fos.failures(), 1u);
    EXPECT_EQ(t.snapshot(), before);
  }
}

TEST(Files, FileErrorNamesTheFileAndThePolishReason) {
  const FileError e(FileOp::Write, "/x/predef.txt", ENOSPC);
  const std::string what = e.what();
  EXPECT_NE(what.find("predef.txt"), std::string::npos) << what;
  EXPECT_NE(what.find(reasonText(ENOSPC)), std::string::npos) << what;
  EXPECT_EQ(reasonText(ENOSPC), "brak miejsca na dysku");
  EXPECT_EQ(reasonText(EACCES), "brak uprawnień");
  EXPECT_TRUE(isValidUtf8(FileError(FileOp::Open, "\xB3\xB9ka.inc", ENOENT).what()));  // name decoded for display
}

TEST(Files, CreateEmptyAndRemove) {
  TempTree t;
  t.write("base/inc_out.txt", "old\r\n");
  createEmpty(t.path("base/inc_out.txt"));
  EXPECT_EQ(t.read("base/inc_out.txt"), "");
  createEmpty(t.path("base/new.txt"));
  EXPECT_TRUE(t.exists("base/new.txt"));
  removeFile(t.path("base/new.txt"));
  EXPECT_FALSE(t.exists("base/new.txt"));
  EXPECT_NO_THROW(removeFile(t.path("base/new.txt")));  // a missing file is no error

  FailingOs fos;
  fos.fail({Call::Unlink, EACCES});
  ScopedOs guard(fos);
  EXPECT_THROW(removeFile(t.path("base/inc_out.txt")), FileError);
  EXPECT_TRUE(t.exists("base/inc_out.txt"));
}

TEST(Files, AtomicFileReplacesTheTargetOnlyOnCommit) {
  TempTree t;
  t.write("base/p_scn.txt", "old\r\n");
  {
    AtomicFile f(t.path("base/p_scn.txt"));
    f.write("new\r\n");
    EXPECT_TRUE(t.exists("base/" + f.tempPath().substr(nameStart(f.tempPath()))));  // beside the target
    EXPECT_EQ(t.read("base/p_scn.txt"), "old\r\n");  // untouched until commit
    f.commit();
  }
  EXPECT_EQ(t.read("base/p_scn.txt"), "new\r\n");
  EXPECT_EQ(t.allFiles(), (Lines{"base/p_scn.txt"}));  // no temporary file left

  // Large content, written past the buffer in several pieces.
  std::string big;
  for (int i = 0; i < 20000; ++i) big += "linia " + std::to_string(i) + "\r\n";
  {
    AtomicFile f(t.path("base/p_scn.txt"));
    f.write(big.substr(0, 10));
    f.write(big.substr(10, 70000));
    f.write(big.substr(70010));
    f.commit(false);
  }
  EXPECT_EQ(t.read("base/p_scn.txt"), big);
  writeFileAtomically(t.path("base/new.txt"), "n");
  EXPECT_EQ(t.read("base/new.txt"), "n");
  EXPECT_EQ(t.allFiles(), (Lines{"base/new.txt", "base/p_scn.txt"}));
}

#ifndef _WIN32
// Linux permissions (Windows keeps only a read-only mark).
TEST(Files, AtomicFileKeepsTheGivenPermissionsWhateverTheUmask) {
  // 0666 and 0660 lose bits to the umask 022 when created and must be set
  // again; the others are created as they are.
  struct Umask {
    mode_t old;
    ~Umask() { ::umask(old); }
  } restore{::umask(022)};
  for (const mode_t mode : {mode_t{0640}, mode_t{0600}, mode_t{0666}, mode_t{0660}, mode_t{0755}}) {
    SCOPED_TRACE(mode);
    TempTree t;
    t.write("base/f.txt", "old");
    {
      AtomicFile f(t.path("base/f.txt"), mode);
      f.write("new");
      f.commit();
    }
    struct stat st {};
    ASSERT_EQ(::stat(t.path("base/f.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
  }
}
#endif

#ifdef _WIN32
// Windows keeps one permission: a mode without the owner's write bit gives a
// read-only file, any other a writable one; a read-only target is replaced
// like any other.
TEST(Files, AtomicFileMarksReadOnlyWhatItsModeCannotWrite) {
  const std::pair<mode_t, bool> rows[] = {{0644, false}, {0600, false}, {0666, false}, {0444, true}, {0400, true}};
  for (const auto& [mode, readOnly] : rows) {
    SCOPED_TRACE(mode);
    TempTree t;
    t.write("base/f.txt", "old");
    t.setAttributes("base/f.txt", FILE_ATTRIBUTE_READONLY);
    {
      AtomicFile f(t.path("base/f.txt"), mode);
      f.write("new");
      f.commit();
    }
    EXPECT_EQ(t.read("base/f.txt"), "new");
    EXPECT_EQ((t.attributes("base/f.txt") & FILE_ATTRIBUTE_READONLY) != 0, readOnly);
    FileStat st;
    ASSERT_EQ(os().stat(t.path("base/f.txt").c_str(), &st), 0);
    EXPECT_EQ(st.mode, readOnly ? 0444u : 0666u);
    EXPECT_EQ(t.allFiles(), Lines{"base/f.txt"});
  }
}
#endif

// The calls on names in a Directory do what the calls on the joined paths do,
// by a descriptor where the system has them and by path where it has not (or
// the directory cannot be opened).
TEST(Files, DirectoryCallsActAsTheCallsOnTheirPaths) {
  struct PathsOnly : Os {
    int openDirectory(const char*) override { return -1; }
  };
  for (const bool descriptors : {true, false}) {
    SCOPED_TRACE(descriptors ? "with descriptors" : "by paths");
    TempTree t;
    t.write("a/b/x.inc", "1");
    t.mkdir("c");
    PathsOnly paths;
    std::optional<ScopedOs> guard;
    if (!descriptors) guard.emplace(paths);

    const Directory b(t.path("a/b"));
    const Directory c(t.path("c") + kPathSeparator);
    EXPECT_EQ(b.pathOf("x.inc"), t.path("a/b/x.inc"));
    EXPECT_EQ(c.pathOf("y"), t.path("c/y"));
#ifndef _WIN32
    EXPECT_EQ(b.fd() >= 0, descriptors);
#else
    EXPECT_EQ(b.fd(), -1);  // Windows has no calls relative to a directory
#endif

    Fd in(os().openAt(b, "x.inc", O_RDONLY, 0));
    ASSERT_GE(in.get(), 0);
    char byte = 0;
    EXPECT_EQ(os().read(in.get(), &byte, 1), 1);
    EXPECT_EQ(byte, '1');
    in.close();  // Wine renames nothing over a file still open
    EXPECT_EQ(os().openAt(b, "none", O_RDONLY, 0), -1);
    EXPECT_EQ(errno, ENOENT);

    Fd created(os().createExclusiveAt(b, "y", 0644));
    ASSERT_GE(created.get(), 0);
    EXPECT_EQ(os().write(created.get(), "2", 1), 1);
    created.close();
    EXPECT_EQ(os().createExclusiveAt(b, "y", 0644), -1);
    EXPECT_EQ(errno, EEXIST);

    EXPECT_EQ(os().linkAt(b, "x.inc", c, "kept"), 0);
    EXPECT_EQ(os().renameAt(b, "y", b, "x.inc"), 0);
    EXPECT_EQ(t.read("a/b/x.inc"), "2");
    EXPECT_EQ(t.read("c/kept"), "1");  // the link holds the file that was replaced

    AtomicFile f(b, t.path("a/b/x.inc"), 0644, nullptr);
    f.write("3");
    f.finish(false);
    f.replaceTarget(b);
    EXPECT_EQ(t.read("a/b/x.inc"), "3");
    EXPECT_EQ(t.allFiles(), (Lines{"a/b/x.inc", "c/kept"}));

    // A directory that is not there: the calls fail as on its paths.
    const Directory gone(t.path("gone"));
    EXPECT_EQ(gone.fd(), -1);
    EXPECT_EQ(os().createExclusiveAt(gone, "z", 0644), -1);
    EXPECT_EQ(errno, ENOENT);
  }
}

TEST(Files, AtomicFileLeavesNoTemporaryFileWhenAbandonedOrFailing) {
  struct Row {
    FailingOs::Rule rule;
    bool abandon;
    const char* why;
    mode_t mode = AtomicFile::kNewFileMode;
  };
  const Row rows[] = {
      {{Call::Open, 0, "never"}, true, "destroyed without commit"},
      {{Call::Write, ENOSPC}, false, "disk full while writing"},
      {{Call::Fsync, EIO}, false, "the data cannot be made durable"},
      {{Call::Close, EIO}, false, "a late error reported by close"},
      {{Call::Rename, EACCES}, false, "the rename over the target fails"},
      {{Call::Fchmod, EPERM}, false, "the permissions cannot be set", 04644},
      {{Call::Mkstemp, EACCES}, false, "the temporary file cannot be created"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    TempTree t;
    t.write("base/p_inc.txt", "old\r\n");
    const auto before = t.snapshot();
    FailingOs fos;
    fos.fail(r.rule);
    {
      ScopedOs guard(fos);
      if (r.abandon) {
        AtomicFile f(t.path("base/p_inc.txt"));
        f.write("half");
      } else {
        try {
          AtomicFile f(t.path("base/p_inc.txt"), r.mode);
          f.write("new\r\n");
          f.commit();
          ADD_FAILURE() << "no error";
        } catch (const FileError& e) {
          EXPECT_EQ(e.path(), t.path("base/p_inc.txt"));  // the message names the target, not the temporary
          EXPECT_EQ(fos.failures(), 1u);
        }
      }
    }
    EXPECT_EQ(t.snapshot(), before);
  }
}

TEST(Files, WriteNewFileIsWholeOrAbsentAndNeverReplacesAFile) {
  enum class Outcome { Written, Refused, Thrown };
  struct Row {
    std::vector<FailingOs::Rule> rules;
    bool exists;
    Outcome outcome;
    const char* why;
  };
  const Row rows[] = {
      {{}, false, Outcome::Written, "a new file"},
      {{}, true, Outcome::Refused, "the name is taken"},
      {{{Call::Link, EEXIST}}, false, Outcome::Refused, "taken between the check and the link"},
      {{{Call::Link, EPERM}}, false, Outcome::Written, "a file system without hard links"},
      {{{Call::Link, EPERM}, {Call::Write, ENOSPC, "", "", 1}}, false, Outcome::Thrown,
       "no hard links, and the disk fills while writing"},
      {{{Call::Link, EACCES}}, false, Outcome::Thrown, "the link is refused"},
      {{{Call::Mkstemp, ENOSPC}}, false, Outcome::Thrown, "no temporary file"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    TempTree t;
    t.mkdir("prog");
    if (r.exists) t.write("prog/kategorie.txt", "STARE\r\n");
    const auto before = t.snapshot();
    FailingOs fos;
    for (const auto& rule : r.rules) fos.fail(rule);
    std::optional<bool> written;
    {
      ScopedOs guard(fos);
      try {
        written = writeNewFile(t.path("prog/kategorie.txt"), "NOWE\r\n");
      } catch (const FileError& e) {
        EXPECT_EQ(e.path(), t.path("prog/kategorie.txt"));
      }
    }
    EXPECT_EQ(written, r.outcome == Outcome::Thrown ? std::nullopt : std::optional(r.outcome == Outcome::Written));
    if (r.outcome == Outcome::Written) {
      EXPECT_EQ(t.allFiles(), Lines{"prog/kategorie.txt"});
      EXPECT_EQ(t.read("prog/kategorie.txt"), "NOWE\r\n");
    } else {
      EXPECT_EQ(t.snapshot(), before);  // no temporary file, nothing half-written
    }
  }
}

}  // namespace
}  // namespace borvantel::text
