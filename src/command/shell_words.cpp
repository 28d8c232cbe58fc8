// SPDX-License-Identifier: Zlib
#include "command/shell_words.hpp"

#include <cstring>

#include "common/blank.hpp"

namespace {

bool is_literal_unquoted(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         (c != '\0' && std::strchr("%+,-./:=@_", c) != nullptr);
}

}  // namespace

bool literal_shell_words(const std::string& line, std::vector<std::string>& words) {
  words.clear();
  std::size_t at = 0;
  while (at < line.size()) {
    if (is_blank(line[at])) {
      ++at;
      continue;
    }
    std::string word;
    while (at < line.size() && !is_blank(line[at])) {
      char c = line[at];
      if (c == '"' || c == '\'') {
        std::size_t end = line.find(c, at + 1);
        if (end == std::string::npos) {
          return false;
        }
        std::string part = line.substr(at + 1, end - at - 1);
        if (c == '"' && part.find_first_of("$`\\") != std::string::npos) {
          return false;
        }
        word += part;
        at = end + 1;
      } else if (is_literal_unquoted(c)) {
        word += c;
        ++at;
      } else {
        return false;
      }
    }
    words.push_back(word);
  }
  return !words.empty() && words[0].find('/') != std::string::npos &&
         words[0].find('=') == std::string::npos;
}
