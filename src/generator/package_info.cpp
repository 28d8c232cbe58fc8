#include "generator/package_info.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/stdio_file.hpp"
#include "package/entry_rules.hpp"
#include "platform/platform.hpp"

bool inspect_package(const std::string& path, ArchiveCheck check, PackageInfo& info,
                     std::string& error) {
  info = PackageInfo{};
  StdioFile file = StdioFile::open(path, "rb");
  if (!file) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!read_trailer(file.get(), info.trailer, error)) {
    error = path + ": " + error;
    return false;
  }
  // Verifying a package means asking whether its own stub extracts it: that stub's entry rules
  // apply.
  EntryRules rules;
  rules.use =
      check == ArchiveCheck::ReadEveryEntry ? EntryRules::Use::Apply : EntryRules::Use::Ignore;
  char head[2] = {};
  if (platform::seek_file(file.get(), 0, SEEK_SET) == 0 &&
      std::fread(head, 1, sizeof head, file.get()) == sizeof head) {
    rules.target = platform_of_executable(std::string(head, sizeof head));
  }
  std::int64_t begin = info.trailer.archive_offset;
  if (!check_archive(file.get(), begin, begin + info.trailer.archive_length, check, rules,
                     info.archive, error)) {
    error = path + ": archive: " + error;
    return false;
  }
  return true;
}

std::string describe_package(const PackageInfo& info) {
  const TrailerInfo& trailer = info.trailer;
  std::string text;
  text += "layout version:      " + trailer.layout_version + "\n";
  text += "command template:    " + trailer.command_template + "\n";
  if (trailer.extra_tool_command) {
    text += "extra-tool command:  " + *trailer.extra_tool_command + "\n";
  }
  text += "archive offset:      " + std::to_string(trailer.archive_offset) + "\n";
  text += "archive length:      " + std::to_string(trailer.archive_length) + "\n";
  text += "bytes after trailer: " + std::to_string(trailer.bytes_after) + "\n";
  text += "archive entries:     " + std::to_string(info.archive.entry_count) + "\n";
  text += "archive total size:  " + std::to_string(info.archive.total_size) + "\n";
  return text;
}
