#include "categories/predef.h"

#include "text/codepage.h"
#include "text/files.h"
#include "text/records.h"

#include <algorithm>

namespace borvantel::categories {

std::vector<PredefRow> wczytaj_predef(const std::string& path) {
  std::vector<PredefRow> rows;
  text::forEachRecord(path, [&](std::string_view line) {
    const std::string normal = text::normaliseSpaces(line);
    text::TwoFields fields;
    if (text::exactlyTwoFields(normal, fields)) {
      rows.push_back({std::string(fields.first), std::string(fields.second)});
    }
    return true;
  });
  return rows;
}

bool patternMatches(std::string_view pattern, std::string_view fileName) noexcept {
  if (!pattern.empty() && pattern.front() == '*' &&
      text::containsIgnoreCase(fileName, pattern.substr(1))) {
    return true;
  }
  if (!pattern.empty() && pattern.back() == '*' &&
      text::startsWithIgnoreCase(fileName, pattern.substr(0, pattern.size() - 1))) {
    return true;
  }
  return pattern.find('*') == std::string_view::npos && text::equalsIgnoreCase(pattern, fileName);
}

PredefMatcher::PredefMatcher(std::vector<PredefRow> rows) : rows_(std::move(rows)) {
  for (size_t i = 0; i < rows_.size(); ++i) {
    const std::string_view p = rows_[i].pattern;
    if (!p.empty() && p.front() == '*') {
      std::string key = text::toFolded(p.substr(1));
      longestContains_ = std::max(longestContains_, key.size());
      if (contains_.emplace(key, i).second) containsList_.emplace_back(std::move(key), i);
    }
    if (!p.empty() && p.back() == '*') {
      std::string key = text::toFolded(p.substr(0, p.size() - 1));
      longestPrefix_ = std::max(longestPrefix_, key.size());
      prefix_.emplace(std::move(key), i);
    }
    if (p.find('*') == std::string_view::npos) exact_.emplace(text::toFolded(p), i);
  }
}

void PredefMatcher::consider(const std::unordered_map<std::string, size_t>& index, const std::string& key,
                             size_t& best) const {
  const auto it = index.find(key);
  if (it != index.end() && it->second < best) best = it->second;
}

const PredefRow* PredefMatcher::firstMatch(std::string_view fileName) const {
  if (rows_.empty()) return nullptr;
  const std::string name = text::toFolded(fileName);
  size_t best = kNone;
  consider(exact_, name, best);
  if (!prefix_.empty()) {
    const size_t maxLen = std::min(longestPrefix_, name.size());
    for (size_t len = 0; len <= maxLen; ++len) consider(prefix_, name.substr(0, len), best);
  }
  if (containsList_.size() <= 32) {
    // Few patterns: try each, which is cheaper than hashing every substring.
    for (const auto& [text, row] : containsList_) {
      if (row < best && name.find(text) != std::string::npos) best = row;
    }
  } else {
    consider(contains_, std::string(), best);
    std::string key;
    for (size_t start = 0; start < name.size(); ++start) {
      const size_t maxLen = std::min(longestContains_, name.size() - start);
      for (size_t len = 1; len <= maxLen; ++len) {
        key.assign(name, start, len);
        consider(contains_, key, best);
      }
    }
  }
  return best == kNone ? nullptr : &rows_[best];
}

}  // namespace borvantel::categories
