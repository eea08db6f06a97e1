#include "support/simulator.h"

#include <cctype>

namespace borvantel::testing {
namespace {

bool separator(char c) { return c == ' ' || c == '\t' || c == ';'; }

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// "(pN)" replaced by parameter N wherever it stands in the token.
std::string substitute(const std::string& token, const std::vector<std::string>& params) {
  std::string out;
  size_t i = 0;
  while (i < token.size()) {
    if (token[i] == '(' && i + 2 < token.size() && (token[i + 1] == 'p' || token[i + 1] == 'P')) {
      size_t j = i + 2;
      while (j < token.size() && std::isdigit(static_cast<unsigned char>(token[j]))) ++j;
      if (j > i + 2 && j < token.size() && token[j] == ')') {
        const size_t n = std::stoul(token.substr(i + 2, j - i - 2));
        if (n >= 1 && n <= params.size()) out += params[n - 1];
        i = j + 1;
        continue;
      }
    }
    out += token[i++];
  }
  return out;
}

void expand(const SceneryFiles& files, const std::string& file, const std::vector<std::string>& params,
            const std::set<std::pair<std::string, size_t>>& skip, int depth, std::vector<std::string>& out) {
  if (depth > 64) {
    out.push_back("<too deep>");
    return;
  }
  const std::vector<SimToken> tokens = simulatorTokens(files.at(file));
  for (size_t i = 0; i < tokens.size(); ++i) {
    const std::string token = substitute(tokens[i].text, params);
    if (lower(token) != "include") {
      out.push_back(token);
      continue;
    }
    const size_t line = tokens[i].line;
    std::string named = i + 1 < tokens.size() ? substitute(tokens[++i].text, params) : std::string();
    std::vector<std::string> args;
    while (++i < tokens.size() && lower(substitute(tokens[i].text, params)) != "end") {
      args.push_back(substitute(tokens[i].text, params));
    }
    if (skip.count({file, line}) != 0) {
      out.push_back("<skipped>");
      continue;
    }
    const std::string found = findNamed(files, named);
    if (found.empty()) {
      out.push_back("<missing " + named + ">");
      continue;
    }
    expand(files, found, args, skip, depth + 1, out);
  }
}

}  // namespace

std::vector<SimToken> simulatorTokens(const std::string& text) {
  std::vector<SimToken> tokens;
  size_t line = 1;
  bool block = false;
  size_t i = 0;
  const auto lineEnd = [&](size_t at) { return text[at] == '\r' || text[at] == '\n'; };
  const auto skipLineEnd = [&] {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    ++i;
    ++line;
  };
  while (i < text.size()) {
    if (lineEnd(i)) {
      skipLineEnd();
    } else if (block) {
      if (text.compare(i, 2, "*/") == 0) {
        block = false;
        i += 2;
      } else {
        ++i;
      }
    } else if (separator(text[i])) {
      ++i;
    } else if (text.compare(i, 2, "//") == 0) {
      while (i < text.size() && !lineEnd(i)) ++i;
    } else if (text.compare(i, 2, "/*") == 0) {
      block = true;
      i += 2;
    } else {
      std::string token;
      while (i < text.size() && !lineEnd(i) && !separator(text[i]) && text.compare(i, 2, "//") != 0 &&
             text.compare(i, 2, "/*") != 0) {
        token += text[i++];
      }
      tokens.push_back({token, line});
    }
  }
  return tokens;
}

std::vector<SimDirective> simulatorDirectives(const std::string& text) {
  const std::vector<SimToken> tokens = simulatorTokens(text);
  std::vector<SimDirective> out;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (lower(tokens[i].text) != "include") continue;
    SimDirective d{tokens[i].line, i + 1 < tokens.size() ? tokens[i + 1].text : std::string(), {}};
    for (i += 2; i < tokens.size() && lower(tokens[i].text) != "end"; ++i) d.parameters.push_back(tokens[i].text);
    out.push_back(std::move(d));
  }
  return out;
}

std::string findNamed(const SceneryFiles& files, const std::string& named) {
  std::string key = lower(named);
  for (char& c : key) c = c == '\\' ? '/' : c;
  for (const auto& [path, bytes] : files) {
    if (lower(path) == key) return path;
  }
  return {};
}

std::vector<std::string> simulatorStream(const SceneryFiles& files, const std::string& file,
                                         const std::set<std::pair<std::string, size_t>>& skip) {
  std::vector<std::string> out;
  expand(files, file, {}, skip, 0, out);
  return out;
}

}  // namespace borvantel::testing
