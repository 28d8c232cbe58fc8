// SPDX-License-Identifier: Zlib
#include "extract/extraction_plan.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "common/path_text.hpp"
#include "console/messages.hpp"
#include "extract/entry_extraction.hpp"
#include "extract/entry_name_encoding.hpp"
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

// What a collision mark stands for, in its two lowest bits: a folder that an entry needs, a
// directory entry, a file entry.
constexpr std::uint64_t k_folder_mark = 0;
constexpr std::uint64_t k_directory_mark = 1;
constexpr std::uint64_t k_file_mark = 2;

// Keys are hashed with 64-bit FNV-1a: every prefix's hash is met on the way to the key's.
constexpr std::uint64_t k_fnv_offset = 14695981039346656037ULL;
constexpr std::uint64_t k_fnv_prime = 1099511628211ULL;

std::uint64_t mark(std::uint64_t hash, std::uint64_t kind) {
  return (hash & ~std::uint64_t{3}) | kind;
}

}  // namespace

bool collision_key(const std::string& name, std::string& key) {
  // One pass, straight into the key's own bytes, which are never more than the name's: the walk
  // runs this for every entry before the extraction can start.
  const char* text = name.data();
  std::size_t size = name.size();
  key.resize(size);
  char* out = key.data();
  std::size_t length = 0;  // the key up to its last component kept
  std::size_t start = 0;   // where the component being read begins
  std::size_t at = 0;      // where its next byte goes
  for (std::size_t i = 0;; ++i) {
    if (i == size || is_separator(text[i])) {
      // The component, less trailing dots and blanks, stays unless that leaves nothing.
      while (at > start && (out[at - 1] == '.' || out[at - 1] == ' ')) {
        --at;
      }
      if (at > start) {
        length = at;
      }
      if (i == size) {
        break;
      }
      at = length;
      if (length > 0) {
        out[at++] = '/';
      }
      start = at;
      continue;
    }
    char c = text[i];
    if (static_cast<unsigned char>(c) >= 0x80) {
      return false;
    }
    if (c == '~' && i + 1 < size && text[i + 1] >= '0' && text[i + 1] <= '9') {
      return false;
    }
    out[at++] = c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
  }
  key.resize(length);
  return true;
}

bool CollisionCheck::add(const std::string& name, bool directory) {
  if (m_collides) {
    return true;
  }
  if (!collision_key(name, m_key) || (m_key.empty() && !directory)) {
    // No key, or a file in place of the extraction directory itself.
    m_collides = true;
    return true;
  }
  if (m_key.empty()) {
    return false;
  }
  // The folders the entry needs end before each '/' of its key; those that the last entry needed
  // too, the key's first `shared` bytes, are noted already.
  std::size_t shared = 0;
  while (shared < m_key.size() && shared < m_last.size() && m_key[shared] == m_last[shared]) {
    ++shared;
  }
  std::uint64_t hash = k_fnv_offset;
  for (std::size_t i = 0; i < m_key.size(); ++i) {
    if (m_key[i] == '/' && i >= shared) {
      note_folder(mark(hash, k_folder_mark));
    }
    hash = (hash ^ static_cast<unsigned char>(m_key[i])) * k_fnv_prime;
  }
  note(mark(hash, directory ? k_directory_mark : k_file_mark));
  m_last.swap(m_key);
  return false;
}

bool CollisionCheck::collides() {
  compact();
  return m_collides;
}

void CollisionCheck::note_folder(std::uint64_t value) {
  // The folders noted lately, one per slot of their hash: entries that come in no folder's order
  // need the same few folders again and again, and each note would cost a place in the marks and
  // a share of the sorts that drop it again. A mark never has all bits set: an empty slot.
  constexpr std::size_t k_slots = 4096;
  if (m_recent_folders.empty()) {
    m_recent_folders.assign(k_slots, UINT64_MAX);
  }
  std::uint64_t& slot = m_recent_folders[(value >> 2) % k_slots];
  if (slot != value) {
    slot = value;
    note(value);
  }
}

void CollisionCheck::note(std::uint64_t value) {
  // A folder that many entries need is noted again by each one that comes after an entry
  // elsewhere: before the marks take more room, the repeated ones go.
  if (m_marks.size() == m_marks.capacity() && !m_marks.empty()) {
    compact();
    if (m_marks.size() > m_marks.capacity() / 2) {
      m_marks.reserve(2 * m_marks.capacity());
    }
  }
  m_marks.push_back(value);
}

void CollisionCheck::compact() {
  // Sorted, each hash's marks stand together: folders, then directory entries, then files. Two
  // neighbours of one hash collide unless both are folders or a folder precedes a directory entry.
  std::sort(m_marks.begin(), m_marks.end());
  for (std::size_t i = 1; i < m_marks.size() && !m_collides; ++i) {
    std::uint64_t before = m_marks[i - 1];
    std::uint64_t after = m_marks[i];
    m_collides = (before >> 2) == (after >> 2) &&
                 ((before & 3) != k_folder_mark || (after & 3) == k_file_mark);
  }
  // Equal marks are one folder noted twice, or entries found colliding already.
  m_marks.erase(std::unique(m_marks.begin(), m_marks.end()), m_marks.end());
}

std::uint64_t share_size(std::uint64_t count) {
  constexpr std::uint64_t k_most_shares = 4096;
  std::uint64_t size = std::min<std::uint64_t>(16, std::max<std::uint64_t>(1, count / 256));
  return std::max(size, count / k_most_shares + (count % k_most_shares != 0 ? 1 : 0));
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
  std::unique_ptr<char[]> extra_room(new char[k_extra_field_room]);
  std::string extra;
  CollisionCheck check;
  std::uint64_t share = share_size(global.number_entry);
  for (ZPOS64_T i = 0; i < global.number_entry; ++i) {
    if ((i == 0 ? unzGoToFirstFile(archive) : unzGoToNextFile(archive)) != UNZ_OK) {
      return plan;
    }
    if (i % share == 0) {
      // Where a share of the extraction's two threads begins.
      unz64_file_pos start{};
      if (unzGetFilePos64(archive, &start) != UNZ_OK) {
        return plan;
      }
      plan.shares.push_back(start);
    }
    unz_file_info64 info;
    if (read_entry_header(archive, info, stored.get(), static_cast<uLong>(k_stored_size - 1),
                          extra_room.get(), extra) != UNZ_OK) {
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
        name = written_entry_name(name, static_cast<unsigned long>(info.flag), extra, target);
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
  plan.collides = check.collides();
  plan.walked = true;
  ZipEndRecord record;
  plan.fill = read_zip_end_record(stream.reader(), stream.size(), record)
                  ? compare_directory_walk(record, plan.walk)
                  : DirectoryFill::Mismatch;
  return plan;
}

bool fits(std::uint64_t needed, const std::string& target_dir, std::uint64_t free_bytes) {
  constexpr std::uint64_t k_megabyte = 1024 * 1024;
  platform::FileSystemInfo info;
  if (free_bytes != k_ask_free_space) {
    info.free_bytes = free_bytes;
  } else if (platform::file_system_info(target_dir, info) != 0) {
    return true;
  }
  if (needed <= info.free_bytes) {
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
