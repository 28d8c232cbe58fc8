// SPDX-License-Identifier: Zlib
#include "extract/extraction_plan.hpp"

#include <algorithm>
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

bool CollisionCheck::collides_with(CollisionCheck& other) {
  if (collides() || other.collides()) {
    return true;
  }
  // Both sorted: their marks in one sorted row, without a copy of either, and the rule of
  // compact() for each two neighbours.
  std::size_t mine = 0;
  std::size_t theirs = 0;
  bool first = true;
  std::uint64_t before = 0;
  while (mine < m_marks.size() || theirs < other.m_marks.size()) {
    bool take_mine = theirs == other.m_marks.size() ||
                     (mine < m_marks.size() && m_marks[mine] <= other.m_marks[theirs]);
    std::uint64_t after = take_mine ? m_marks[mine++] : other.m_marks[theirs++];
    if (!first && (before >> 2) == (after >> 2) &&
        ((before & 3) != k_folder_mark || (after & 3) == k_file_mark)) {
      return true;
    }
    first = false;
    before = after;
  }
  return false;
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

namespace {

// A ZIP name field holds at most 65,535 bytes; the last byte stays NUL. minizip ends every
// shorter name with a NUL itself, so the rest is left unfilled: pages never touched cost nothing.
constexpr std::size_t k_stored_size = 65536;

// A directory of this many entries is walked on two threads, each from one end to its middle.
constexpr std::uint64_t k_split_entries = 4096;

// What the walk learns from a run of entries.
struct WalkPart {
  std::uint64_t share = 1;  // share_size's
  std::vector<unz64_file_pos> shares;  // numbered from the part's first entry
  DirectoryWalk walk;
  std::uint64_t needed = 0;
  bool collides = false;  // certain already: the rest of the names need no key
  bool links = false;
  CollisionCheck check;
};

// Reads the entry at which `archive` stands into `part`; `stored` receives its stored name. False
// when minizip cannot read it.
bool take_entry(unzFile archive, TargetPlatform target, char* stored, WalkPart& part,
                const PlanVisitor& visit) {
  unz64_file_pos start{};
  if (part.walk.entries % part.share == 0 && unzGetFilePos64(archive, &start) == UNZ_OK) {
    // minizip numbers the entries from where its walk began: the second half's from its start.
    start.num_of_file = part.walk.entries;
    part.shares.push_back(start);
  }
  unz_file_info64 info;
  std::memset(&info, 0, sizeof info);
  if (unzGetCurrentFileInfo64(archive, &info, stored, static_cast<uLong>(k_stored_size - 1),
                              nullptr, 0, nullptr, 0) != UNZ_OK) {
    return false;
  }
  ++part.walk.entries;
  part.walk.bytes += k_central_header_size + static_cast<std::uint64_t>(info.size_filename) +
                     static_cast<std::uint64_t>(info.size_file_extra) +
                     static_cast<std::uint64_t>(info.size_file_comment);
  part.needed = saturating_add(part.needed, static_cast<std::uint64_t>(info.uncompressed_size));
  if (!part.collides) {
    // Bytes beyond ASCII collide anyway: the name need not be decoded.
    std::string name = stored;
    if (is_ascii(name)) {
      name = written_entry_name(archive, info, stored, target);
    }
    part.collides = part.check.add(name, !name.empty() && is_separator(name.back()));
  }
  part.links = part.links || (target == TargetPlatform::Linux &&
                              is_symbolic_link(static_cast<unsigned long>(info.version),
                                               static_cast<unsigned long>(info.external_fa)));
  if (visit) {
    visit(archive, info, stored);
  }
  return true;
}

// The directory's second half, walked on a second thread with a minizip handle of its own: from
// `start`, a central header's signature found past the middle, up to the directory's `end`.
// `start` is a guess (a name may hold the signature too): the first thread walks from the first
// entry, and only when it arrives exactly there does it take this half's part.
struct SecondHalf {
  const ArchiveRegion* region = nullptr;
  TargetPlatform target = TargetPlatform::Linux;
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  WalkPart part;
  bool complete = false;  // walked from `start` to exactly `end`
};

void walk_second_half(void* opaque) {
  SecondHalf& half = *static_cast<SecondHalf*>(opaque);
  ArchiveStream stream(*half.region);
  UnzipHandle archive;
  if (!open_archive(stream, archive) || archive.get() == nullptr) {
    return;
  }
  unz64_file_pos position{half.start, 0};
  if (unzGoToFilePos64(archive.get(), &position) != UNZ_OK) {
    return;
  }
  std::unique_ptr<char[]> stored(new char[k_stored_size]);
  stored[k_stored_size - 1] = '\0';
  std::uint64_t at = half.start;
  for (;;) {
    std::uint64_t bytes = half.part.walk.bytes;
    if (!take_entry(archive.get(), half.target, stored.get(), half.part, nullptr)) {
      return;
    }
    at += half.part.walk.bytes - bytes;
    if (at >= half.end) {
      half.complete = at == half.end;
      return;
    }
    if (unzGoToNextFile(archive.get()) != UNZ_OK) {
      return;
    }
  }
}

// Starts the second half's walk when the directory is large enough and a thread can start; false
// otherwise (the first thread walks alone).
bool start_second_half(ArchiveStream& stream, const ZipEndRecord& record, SecondHalf& half,
                       std::uintptr_t& thread) {
  if (record.entry_count < k_split_entries) {
    return false;
  }
  // Offsets as minizip counts them are the stream's when nothing precedes the archive; where
  // something does, the guess misses and the first thread walks on alone.
  std::uint64_t middle = record.directory_offset + record.directory_size / 2;
  unsigned char bytes[4096];
  std::size_t got = stream.read_at(middle, bytes, sizeof bytes);
  for (std::size_t i = 0; i + 4 <= got; ++i) {
    if (bytes[i] == 'P' && bytes[i + 1] == 'K' && bytes[i + 2] == 1 && bytes[i + 3] == 2) {
      half.region = &stream.region();
      half.start = middle + i;
      half.end = record.directory_offset + record.directory_size;
      return platform::start_thread(walk_second_half, &half, thread) == 0;
    }
  }
  return false;
}

// Joins the second half's thread, once.
struct SecondThread {
  std::uintptr_t id = 0;
  bool running = false;
  void join() {
    if (running) {
      platform::join_thread(id);
      running = false;
    }
  }
  ~SecondThread() { join(); }
};

}  // namespace

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
  ZipEndRecord record;
  bool recorded = read_zip_end_record(stream.reader(), stream.size(), record);
  std::unique_ptr<char[]> stored(new char[k_stored_size]);
  stored[k_stored_size - 1] = '\0';
  WalkPart part;
  part.share = share_size(global.number_entry);
  SecondHalf half;
  half.target = target;
  half.part.share = part.share;
  SecondThread second;
  bool merged = false;
  // A visitor is told of the entries in their order: one thread.
  second.running = !visit && recorded && global.number_entry >= k_split_entries &&
                   start_second_half(stream, record, half, second.id);
  for (ZPOS64_T i = 0; i < global.number_entry; ++i) {
    if ((i == 0 ? unzGoToFirstFile(archive) : unzGoToNextFile(archive)) != UNZ_OK) {
      return plan;
    }
    std::uint64_t offset = static_cast<std::uint64_t>(unzGetOffset64(archive));
    if (i == 0) {
      part.walk.first_offset = offset;
    } else if (second.running && offset >= half.start) {
      // The second half is this walk's rest when this walk arrives at its start, it reached the
      // directory's end, and the two hold the entries the end record counts.
      second.join();
      if (offset == half.start && half.complete &&
          i + half.part.walk.entries == global.number_entry) {
        part.walk.entries += half.part.walk.entries;
        part.walk.bytes += half.part.walk.bytes;
        part.needed = saturating_add(part.needed, half.part.needed);
        part.collides = part.collides || half.part.collides;
        part.links = part.links || half.part.links;
        merged = true;
        for (unz64_file_pos start : half.part.shares) {
          start.num_of_file += i;
          part.shares.push_back(start);
        }
        break;
      }
    }
    if (!take_entry(archive, target, stored.get(), part, visit)) {
      return plan;
    }
  }
  second.join();
  // An archive whose end record counts no entry may still hold some: the fill decides.
  if (global.number_entry > 0 && unzGoToFirstFile(archive) != UNZ_OK) {
    return plan;
  }
  plan.walk = part.walk;
  plan.needed = part.needed;
  plan.links = part.links;
  plan.shares = std::move(part.shares);
  plan.collides = merged ? part.check.collides_with(half.part.check) : part.check.collides();
  plan.walked = true;
  plan.fill = recorded ? compare_directory_walk(record, plan.walk) : DirectoryFill::Mismatch;
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
