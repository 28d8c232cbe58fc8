// SPDX-License-Identifier: Zlib
#include "extract/extraction_plan.hpp"

#include <cstring>
#include <memory>
#include <vector>

#include "common/path_text.hpp"
#include "console/messages.hpp"
#include "extract/entry_extraction.hpp"
#include "extract/entry_names.hpp"
#include "platform/platform.hpp"

namespace {

constexpr std::uint64_t k_saturated = UINT64_MAX;

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  return a > k_saturated - b ? k_saturated : a + b;
}

bool is_ascii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      return false;
    }
  }
  return true;
}

// Appends the component `text[begin, end)` to `key` in its folded form, unless it folds to
// nothing ("." and empty ones).
void append_component(const std::string& text, std::size_t begin, std::size_t end,
                      std::string& key) {
  while (end > begin && (text[end - 1] == '.' || text[end - 1] == ' ')) {
    --end;
  }
  if (end == begin) {
    return;
  }
  if (!key.empty()) {
    key += '/';
  }
  for (std::size_t i = begin; i < end; ++i) {
    char c = text[i];
    key += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
}

}  // namespace

bool collision_key(const std::string& name, std::string& key) {
  key.clear();
  if (!is_ascii(name)) {
    return false;
  }
  std::size_t begin = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || is_separator(name[i])) {
      append_component(name, begin, i, key);
      begin = i + 1;
    } else if (name[i] == '~' && i + 1 < name.size() && name[i + 1] >= '0' &&
               name[i + 1] <= '9') {
      return false;
    }
  }
  return true;
}

bool CollisionCheck::add(const std::string& name, bool directory) {
  std::string key;
  if (!collision_key(name, key)) {
    return true;
  }
  if (key.empty()) {
    // The extraction directory itself; a file cannot have that name.
    return !directory;
  }
  bool collides = !m_names.insert(key).second;
  if (!directory) {
    collides = collides || m_folders.count(key) > 0;
    m_files.insert(key);
  }
  // The folders the entry needs, the longest first: once one is known, so are those above it,
  // and they were checked against the files when they were added.
  for (std::size_t end = key.rfind('/'); end != std::string::npos; end = key.rfind('/', end - 1)) {
    std::string folder = key.substr(0, end);
    collides = collides || m_files.count(folder) > 0;
    if (!m_folders.insert(folder).second) {
      break;
    }
  }
  return collides;
}

ExtractionPlan plan_extraction(ArchiveStream& stream, unzFile archive, TargetPlatform target,
                               const PlanVisitor& visit) {
  ExtractionPlan plan;
  unz_global_info64 global;
  std::memset(&global, 0, sizeof global);
  if (unzGetGlobalInfo64(archive, &global) != UNZ_OK) {
    return plan;
  }
  // A ZIP name field holds at most 65,535 bytes; the last byte stays NUL. minizip ends every
  // shorter name with a NUL itself, so the rest is left unfilled: pages never touched cost nothing.
  constexpr std::size_t k_stored_size = 65536;
  std::unique_ptr<char[]> stored(new char[k_stored_size]);
  stored[k_stored_size - 1] = '\0';
  CollisionCheck check;
  for (ZPOS64_T i = 0; i < global.number_entry; ++i) {
    if ((i == 0 ? unzGoToFirstFile(archive) : unzGoToNextFile(archive)) != UNZ_OK) {
      return plan;
    }
    unz_file_info64 info;
    std::memset(&info, 0, sizeof info);
    if (unzGetCurrentFileInfo64(archive, &info, stored.get(),
                                static_cast<uLong>(k_stored_size - 1), nullptr, 0, nullptr,
                                0) != UNZ_OK) {
      return plan;
    }
    if (i == 0) {
      plan.walk.first_offset = static_cast<std::uint64_t>(unzGetOffset64(archive));
    }
    ++plan.walk.entries;
    plan.walk.bytes += k_central_header_size + static_cast<std::uint64_t>(info.size_filename) +
                       static_cast<std::uint64_t>(info.size_file_extra) +
                       static_cast<std::uint64_t>(info.size_file_comment);
    plan.needed = saturating_add(plan.needed, static_cast<std::uint64_t>(info.uncompressed_size));
    if (!plan.collides) {
      // Bytes beyond ASCII collide anyway: the name need not be decoded.
      std::string name = stored.get();
      if (is_ascii(name)) {
        name = written_entry_name(archive, info, stored.get(), target);
      }
      plan.collides = check.add(name, !name.empty() && is_separator(name.back()));
    }
    plan.links = plan.links || (target == TargetPlatform::Linux &&
                                is_symbolic_link(static_cast<unsigned long>(info.version),
                                                 static_cast<unsigned long>(info.external_fa)));
    if (visit) {
      visit(archive, info, stored.get());
    }
  }
  // An archive whose end record counts no entry may still hold some: the fill decides.
  if (global.number_entry > 0 && unzGoToFirstFile(archive) != UNZ_OK) {
    return plan;
  }
  plan.walked = true;
  ZipEndRecord record;
  plan.fill = read_zip_end_record(stream.reader(), stream.size(), record)
                  ? compare_directory_walk(record, plan.walk)
                  : DirectoryFill::Mismatch;
  return plan;
}

bool fits(std::uint64_t needed, const std::string& target_dir) {
  constexpr std::uint64_t k_megabyte = 1024 * 1024;
  platform::FileSystemInfo info;
  if (platform::file_system_info(target_dir, info) != 0 || needed <= info.free_bytes) {
    return true;
  }
  std::uint64_t available = info.free_bytes;
  // Rounded up without adding first: `needed` may stand at UINT64_MAX.
  print_error("Not enough space in %s: %llu MB needed, %llu MB free\n", target_dir.c_str(),
              static_cast<unsigned long long>(needed / k_megabyte +
                                              (needed % k_megabyte != 0 ? 1 : 0)),
              static_cast<unsigned long long>(available / k_megabyte));
  return false;
}
