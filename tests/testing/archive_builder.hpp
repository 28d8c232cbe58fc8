// SPDX-License-Identifier: Zlib
#pragma once

// Writes ZIP archives for tests through minizip's zip* calls, with whatever entry names, data,
// times, hosts and permission bits a test needs, hostile ones included.

#include <cstdint>
#include <string>
#include <vector>

enum class ArchiveMethod { Stored, Deflated };

// A DOS date and time as a ZIP entry stores it: date in the high 16 bits, time (two-second steps)
// in the low 16 bits.
std::uint32_t dos_date_time(int year, int month, int day, int hour, int minute, int second);

// `size` bytes that deflate cannot shrink, the same on every call.
std::string noise(std::size_t size);

struct ArchiveEntry {
  // Stored byte for byte. A name ending in '/' or '\' is a directory entry.
  std::string name;
  // The entry's data, written `repeat` times in a row (large entries without a large string).
  std::string data;
  std::uint64_t repeat = 1;
  std::uint32_t time = dos_date_time(2021, 6, 15, 10, 20, 30);
  ArchiveMethod method = ArchiveMethod::Deflated;
  // 0: the entry is made on FAT (host 0) with no Unix mode. Otherwise the entry is made on Unix
  // (host 3) and these are its Unix type and permission bits (e.g. 0100755, 040755, 0120777).
  unsigned unix_mode = 0;
  // General-purpose flag bits besides those minizip sets itself (0x800: the name is UTF-8).
  unsigned long flags = 0;
  // Extra-field records, written into the local and the central header alike.
  std::string extra_field;
  // Raw: `data` goes in as the entry's stored bytes, as they are (a deflate stream of a test's
  // own making for Deflated), and the entry records `raw_size` and `raw_crc` as its size and
  // CRC-32, whatever the bytes hold.
  bool raw = false;
  std::uint64_t raw_size = 0;
  std::uint32_t raw_crc = 0;
};

// One extra-field record: `id`, the size of `data`, `data`.
std::string extra_field_record(unsigned id, const std::string& data);

// Info-ZIP's Unicode path extra field (0x7075): version 1, the CRC-32 of `made_for` (the header
// name it belongs to) and `name`, the UTF-8 name.
std::string unicode_path_field(const std::string& made_for, const std::string& name);

// A plain file entry made on Unix with mode `mode` (permission bits only).
ArchiveEntry unix_file(const std::string& name, const std::string& data, unsigned mode = 0644);

// A symbolic-link entry made on Unix (mode 0120777), whose data is the link's `target`.
ArchiveEntry unix_link(const std::string& name, const std::string& target);

// A directory entry made on Unix; `name` ends in '/'.
ArchiveEntry unix_directory(const std::string& name, unsigned mode = 0755);

// Writes `entries` in order into a new archive `path` (replacing any file there). Returns true
// when minizip reported success for every step.
bool write_archive(const std::string& path, const std::vector<ArchiveEntry>& entries);

// Gives the archive `archive` (the bytes of one without a comment) a zip64 end record and its
// locator in front of the end record, which then holds the values that tell a reader to look
// there (0xffff entries, 0xffffffff size and offset), as zip64 writers do.
void add_zip64_end_record(std::string& archive);

// Sets the entry count of the archive's end record to `count`: both 16-bit counts, or, in a zip64
// archive, both 64-bit counts of the zip64 end record. The central directory stays as it is.
void set_end_record_count(std::string& archive, std::uint64_t count);

// Opens the file `archive_path` and extracts it with `extract_archive` into `target_dir`; an
// archive file that cannot be opened is not an archive (k_extract_not_an_archive). A
// `ring_entry_size` other than 0 replaces the entry size from which a thread of its own writes an
// entry's data.
int extract_archive_file(const std::string& archive_path, const std::string& target_dir,
                         std::uint64_t ring_entry_size = 0);

// The moment a DOS date and time stands for, read as local time, in seconds since 1970.
std::int64_t local_seconds(std::uint32_t dos_date_time);

// The modification time of `path` in whole seconds since 1970, or -1.
std::int64_t file_mtime(const std::string& path);

// Sets the modification time of `path` to `seconds` since 1970. Returns true on success.
bool set_file_mtime(const std::string& path, std::int64_t seconds);

// What `compare_trees` looks at besides names and contents.
struct TreeComparison {
  // Compare the files' modification times, allowing `mtime_slack` seconds of difference (DOS
  // times have two-second steps).
  bool mtimes = true;
  int mtime_slack = 1;
  // Compare permission bits of files and, with `directory_modes`, of directories (meaningful on
  // Linux only), as an extraction gives them: masked with the umask, never write for group or
  // others, directories with rwx for their owner.
  bool modes = false;
  bool directory_modes = true;
  // Names (relative, '/' separated, directories ending in '/') present in `expected_root` that
  // are not expected in `actual_root`.
  std::vector<std::string> ignored;
};

// Compares the tree `actual_root` with `expected_root`: the same names, the same kinds, the same
// bytes, and what `comparison` asks for. A symbolic link in `expected_root` is expected as a
// symbolic link to the same target, as a Linux stub makes it. Returns a description of each
// difference; empty when the trees match.
std::vector<std::string> compare_trees(const std::string& expected_root,
                                       const std::string& actual_root,
                                       const TreeComparison& comparison);
