// SPDX-License-Identifier: Zlib
#include "generator/item_names.hpp"

#include <map>

#include "common/path_text.hpp"
#include "extract/entry_name_encoding.hpp"
#include "package/entry_rules.hpp"

namespace {

const char* stub_name(TargetPlatform target) {
  return target == TargetPlatform::Windows ? "Windows" : "Linux";
}

// Where the file `name` lands: separators unified, "." and empty components dropped, and with
// `fold_case` ASCII letters in lower case.
std::string file_key(const std::string& name, bool fold_case) {
  std::string key;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !is_separator(name[end])) {
      ++end;
    }
    std::string component = name.substr(start, end - start);
    if (!component.empty() && component != ".") {
      key += (key.empty() ? "" : "/") + component;
    }
    start = end + 1;
  }
  if (fold_case) {
    for (char& c : key) {
      c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
  }
  return key;
}

}  // namespace

// Looks at the names the stub for `target` writes the archive's files under, `written`, in
// archive order. Windows takes names that differ only in ASCII case for one file, whose contents
// would then depend on the order: refused for a Windows stub. One name twice (an archive updated
// in place) is allowed, the last one wins: noted in `warnings`.
bool check_file_names_apart(const std::vector<std::string>& written, TargetPlatform target,
                            std::string& error, std::vector<std::string>& warnings) {
  std::map<std::string, std::string> seen;
  for (const std::string& name : written) {
    auto found = seen.emplace(file_key(name, target == TargetPlatform::Windows), name);
    if (found.second) {
      continue;
    }
    const std::string& first = found.first->second;
    if (file_key(first, false) == file_key(name, false)) {
      warnings.push_back("the archive holds " + name + " twice; the stub keeps the last one");
      continue;
    }
    error = std::string("the ") + stub_name(target) + " stub would write entries " + first +
            " and " + name + " into one file: Windows does not tell their names apart";
    return false;
  }
  return true;
}

bool check_item_names(const std::vector<ArchiveItem>& items, TargetPlatform target,
                      std::string& error, std::vector<std::string>& warnings,
                      std::vector<std::string>* written_files) {
  std::vector<std::string> files;
  for (const ArchiveItem& item : items) {
    std::string written;
    EntryNameVerdict verdict =
        check_entry_names(item.name.c_str(), static_cast<unsigned long>(item.name.size()), 0,
                          std::string(), target, written);
    if (verdict != EntryNameVerdict::Accepted) {
      error = std::string("the ") + stub_name(target) + " stub would refuse entry " + written +
              ": " + refusal_reason(verdict);
      return false;
    }
    if (!item.is_directory) {
      files.push_back(written);
    }
  }
  if (written_files != nullptr) {
    *written_files = files;
  }
  return check_file_names_apart(files, target, error, warnings);
}

void note_missing_program(const std::string& command, const char* what,
                          const std::vector<std::string>& written, TargetPlatform target,
                          std::vector<std::string>& warnings) {
  std::size_t start = command.find_first_not_of(" \t");
  if (start == std::string::npos) {
    return;
  }
  std::string word;
  if (command[start] == '"') {
    std::size_t end = command.find('"', start + 1);
    word = command.substr(start + 1, end == std::string::npos ? end : end - start - 1);
  } else {
    word = command.substr(start, command.find_first_of(" \t", start) - start);
  }
  bool windows = target == TargetPlatform::Windows;
  bool absolute =
      !word.empty() && (is_separator(word[0]) || (windows && word.size() > 1 && word[1] == ':'));
  if (word.empty() || absolute || word.find('%') != std::string::npos) {
    return;
  }
  std::string key = file_key(word, windows);
  if (windows && key.size() > 3 && key.compare(key.size() - 3, 3, ".sh") == 0) {
    warnings.push_back(std::string("the ") + what + " runs " + word +
                       ", a shell script, which the Windows stub cannot run");
  }
  for (const std::string& name : written) {
    std::string file = file_key(name, windows);
    if (file == key || (windows && file == key + ".exe")) {
      return;
    }
  }
  warnings.push_back(std::string("the ") + what + "'s first word " + word +
                     " is not a file in the package; the stub runs it from the extraction "
                     "directory");
}
