// SPDX-License-Identifier: Zlib
#include "testing/archive_builder.hpp"

#include "common/dos_time.hpp"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "extract/archive_extraction.hpp"
#include "extract/entry_sink.hpp"
#include "extract/parallel_extraction.hpp"
#include "package/entry_rules.hpp"
#include "platform/platform.hpp"
#include "testing/scoped_temp_dir.hpp"

namespace {

constexpr unsigned long k_made_on_fat = 20;
constexpr unsigned long k_made_on_unix = (3UL << 8) | 30;

namespace fs = std::filesystem;

// Whole seconds between the file clock's epoch and 1970, the way this library counts them.
std::chrono::seconds file_clock_offset() {
  using std::chrono::nanoseconds;
  static const std::chrono::seconds offset = [] {
    nanoseconds file_now = std::chrono::duration_cast<nanoseconds>(
        fs::file_time_type::clock::now().time_since_epoch());
    nanoseconds system_now = std::chrono::duration_cast<nanoseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return std::chrono::round<std::chrono::seconds>(file_now - system_now);
  }();
  return offset;
}

unsigned permission_bits(const fs::path& path) {
  std::error_code error;
  return static_cast<unsigned>(fs::status(path, error).permissions() & fs::perms::mask) & 0777;
}

// Compares two files in blocks, never holding either whole.
bool same_bytes(const fs::path& expected, const fs::path& actual) {
  std::ifstream a(expected, std::ios::binary);
  std::ifstream b(actual, std::ios::binary);
  if (!a || !b) {
    return false;
  }
  std::vector<char> block_a(1 << 16);
  std::vector<char> block_b(1 << 16);
  for (;;) {
    a.read(block_a.data(), static_cast<std::streamsize>(block_a.size()));
    b.read(block_b.data(), static_cast<std::streamsize>(block_b.size()));
    if (a.gcount() != b.gcount() ||
        !std::equal(block_a.begin(), block_a.begin() + a.gcount(), block_b.begin())) {
      return false;
    }
    if (a.gcount() == 0) {
      return true;
    }
  }
}

std::string octal(unsigned mode) {
  char text[16];
  std::snprintf(text, sizeof text, "0%o", mode);
  return text;
}

// The permission bits an extraction gives an entry made from `source`: masked with the umask,
// never write for group or others.
unsigned extracted_mode(const fs::path& source) {
  return permission_bits(source) & ~(platform::file_creation_mask() | 0022u);
}

}  // namespace

std::uint32_t dos_date_time(int year, int month, int day, int hour, int minute, int second) {
  std::uint32_t date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  std::uint32_t time = static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return (date << 16) | time;
}

std::string noise(std::size_t size) {
  std::string bytes;
  unsigned state = 12345;
  while (bytes.size() < size) {
    state = state * 1103515245u + 12345u;
    bytes += static_cast<char>(state >> 24);
  }
  return bytes;
}

std::string extra_field_record(unsigned id, const std::string& data) {
  std::string record;
  record += static_cast<char>(id & 0xFF);
  record += static_cast<char>(id >> 8 & 0xFF);
  record += static_cast<char>(data.size() & 0xFF);
  record += static_cast<char>(data.size() >> 8 & 0xFF);
  return record + data;
}

std::string unicode_path_field(const std::string& made_for, const std::string& name) {
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(made_for.data()),
                    static_cast<uInt>(made_for.size()));
  std::string data(1, '\x01');
  for (int i = 0; i < 4; ++i) {
    data += static_cast<char>(crc >> (8 * i) & 0xFF);
  }
  return extra_field_record(0x7075, data + name);
}

ArchiveEntry unix_file(const std::string& name, const std::string& data, unsigned mode) {
  ArchiveEntry entry;
  entry.name = name;
  entry.data = data;
  entry.unix_mode = 0100000 | mode;
  return entry;
}

ArchiveEntry unix_link(const std::string& name, const std::string& target) {
  ArchiveEntry entry;
  entry.name = name;
  entry.data = target;
  entry.unix_mode = 0120777;
  return entry;
}

ArchiveEntry unix_directory(const std::string& name, unsigned mode) {
  ArchiveEntry entry;
  entry.name = name;
  entry.unix_mode = 040000 | mode;
  entry.method = ArchiveMethod::Stored;
  return entry;
}

namespace {

std::uint64_t read_little_endian(const std::string& bytes, std::size_t at, int count) {
  std::uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) {
    value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  }
  return value;
}

void put_little_endian(std::string& bytes, std::size_t at, std::uint64_t value, int count) {
  for (int i = 0; i < count; ++i) {
    bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i) & 0xff);
  }
}

std::string little_endian(std::uint64_t value, int count) {
  std::string bytes(static_cast<std::size_t>(count), '\0');
  put_little_endian(bytes, 0, value, count);
  return bytes;
}

}  // namespace

void add_zip64_end_record(std::string& archive) {
  std::size_t end = archive.rfind(std::string("PK\5\6", 4));
  std::uint64_t entries = read_little_endian(archive, end + 10, 2);
  std::uint64_t size = read_little_endian(archive, end + 12, 4);
  std::uint64_t offset = read_little_endian(archive, end + 16, 4);
  std::string zip64 = std::string("PK\6\6", 4) + little_endian(44, 8) + little_endian(45, 2) +
                      little_endian(45, 2) + little_endian(0, 4) + little_endian(0, 4) +
                      little_endian(entries, 8) + little_endian(entries, 8) +
                      little_endian(size, 8) + little_endian(offset, 8);
  std::string locator =
      std::string("PK\6\7", 4) + little_endian(0, 4) + little_endian(end, 8) + little_endian(1, 4);
  put_little_endian(archive, end + 8, 0xffff, 2);
  put_little_endian(archive, end + 10, 0xffff, 2);
  put_little_endian(archive, end + 12, 0xffffffff, 4);
  put_little_endian(archive, end + 16, 0xffffffff, 4);
  archive.insert(end, zip64 + locator);
}

void set_end_record_count(std::string& archive, std::uint64_t count) {
  std::size_t zip64 = archive.rfind(std::string("PK\6\6", 4));
  if (zip64 != std::string::npos) {
    put_little_endian(archive, zip64 + 24, count, 8);
    put_little_endian(archive, zip64 + 32, count, 8);
    return;
  }
  std::size_t end = archive.rfind(std::string("PK\5\6", 4));
  put_little_endian(archive, end + 8, count, 2);
  put_little_endian(archive, end + 10, count, 2);
}

int extract_archive_file(const std::string& archive_path, const std::string& target_dir,
                         std::uint64_t ring_entry_size) {
  platform::FileHandle file;
  if (platform::open_file_for_reading(archive_path, file) != 0) {
    return k_extract_not_an_archive;
  }
  if (ring_entry_size == 0) {
    return extract_archive(file, target_dir, this_platform());
  }
  DiskSink sink;
  DiskSink second_sink;
  return extract_archive(
      file, target_dir, this_platform(),
      ExtractionEngine{&sink, &second_sink, k_parallel_entries, ring_entry_size, UINT64_MAX});
}

bool write_archive(const std::string& path, const std::vector<ArchiveEntry>& entries) {
  zipFile archive = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (archive == nullptr) {
    return false;
  }
  bool ok = true;
  for (const ArchiveEntry& entry : entries) {
    zip_fileinfo info;
    std::memset(&info, 0, sizeof info);
    info.dosDate = entry.time;
    info.external_fa = static_cast<uLong>(entry.unix_mode) << 16;
    bool is_directory =
        !entry.name.empty() && (entry.name.back() == '/' || entry.name.back() == '\\');
    if (is_directory) {
      info.external_fa |= 0x10;  // the FAT directory attribute
    }
    unsigned long made_by = entry.unix_mode != 0 ? k_made_on_unix : k_made_on_fat;
    int method = entry.method == ArchiveMethod::Deflated ? Z_DEFLATED : 0;
    int level = entry.method == ArchiveMethod::Deflated ? Z_DEFAULT_COMPRESSION : 0;
    const void* extra = entry.extra_field.empty() ? nullptr : entry.extra_field.data();
    uInt extra_size = static_cast<uInt>(entry.extra_field.size());
    if (zipOpenNewFileInZip4_64(archive, entry.name.c_str(), &info, extra, extra_size, extra,
                                extra_size, nullptr, method, level, entry.raw ? 1 : 0, -MAX_WBITS,
                                DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, made_by, entry.flags,
                                0) != ZIP_OK) {
      ok = false;
      break;
    }
    for (std::uint64_t i = 0; ok && i < entry.repeat && !entry.data.empty(); ++i) {
      ok = zipWriteInFileInZip(archive, entry.data.data(),
                               static_cast<unsigned>(entry.data.size())) == ZIP_OK;
    }
    int closed = entry.raw ? zipCloseFileInZipRaw64(archive, entry.raw_size, entry.raw_crc)
                           : zipCloseFileInZip(archive);
    if (closed != ZIP_OK) {
      ok = false;
    }
    if (!ok) {
      break;
    }
  }
  if (zipClose(archive, nullptr) != ZIP_OK) {
    ok = false;
  }
  return ok;
}

std::int64_t local_seconds(std::uint32_t dos_date_time) {
  return dos_date_time_to_local_seconds(dos_date_time);
}

std::int64_t file_mtime(const std::string& path) {
  std::error_code error;
  fs::file_time_type time = fs::last_write_time(fs::u8path(path), error);
  if (error) {
    return -1;
  }
  return std::chrono::floor<std::chrono::seconds>(time.time_since_epoch()).count() -
         file_clock_offset().count();
}

bool set_file_mtime(const std::string& path, std::int64_t seconds) {
  std::error_code error;
  fs::file_time_type time{std::chrono::seconds(seconds) + file_clock_offset()};
  fs::last_write_time(fs::u8path(path), time, error);
  return !error;
}

std::vector<std::string> compare_trees(const std::string& expected_root,
                                       const std::string& actual_root,
                                       const TreeComparison& comparison) {
  std::vector<std::string> differences;
  std::set<std::string> ignored(comparison.ignored.begin(), comparison.ignored.end());
  std::vector<std::string> expected_names;
  fs::path expected_base = fs::u8path(expected_root);
  fs::path actual_base = fs::u8path(actual_root);
  std::error_code error;
  for (fs::recursive_directory_iterator it(expected_base, error), end; !error && it != end;
       it.increment(error)) {
    std::string name = it->path().lexically_relative(expected_base).generic_string();
    fs::path actual = actual_base / it->path().lexically_relative(expected_base);
    fs::file_status expected_status = it->symlink_status();
    fs::file_status actual_status = fs::symlink_status(actual);
    if (fs::is_directory(expected_status)) {
      name += '/';
    }
    if (ignored.count(name) != 0) {
      if (fs::is_directory(expected_status)) {
        it.disable_recursion_pending();
      }
      continue;
    }
    expected_names.push_back(name);
    if (fs::is_directory(expected_status)) {
      if (!fs::is_directory(actual_status)) {
        differences.push_back(name + ": not a directory");
      } else if (comparison.modes && comparison.directory_modes &&
                 (extracted_mode(it->path()) | 0700u) != permission_bits(actual)) {
        differences.push_back(name + ": mode " + octal(permission_bits(actual)) + ", expected " +
                              octal(extracted_mode(it->path()) | 0700u));
      }
      continue;
    }
    if (fs::is_symlink(expected_status)) {
      std::string target = fs::read_symlink(it->path(), error).string();
      if (!fs::is_symlink(actual_status) || fs::read_symlink(actual, error).string() != target) {
        differences.push_back(name + ": not a link to " + target);
      }
      continue;
    }
    if (!fs::is_regular_file(actual_status)) {
      differences.push_back(name + ": not a regular file");
      continue;
    }
    if (!same_bytes(it->path(), actual)) {
      differences.push_back(name + ": different bytes");
    }
    if (comparison.mtimes) {
      std::int64_t delta = file_mtime(actual.string()) - file_mtime(it->path().string());
      if (delta > comparison.mtime_slack || delta < -comparison.mtime_slack) {
        differences.push_back(name + ": modification time off by " + std::to_string(delta) + " s");
      }
    }
    if (comparison.modes && extracted_mode(it->path()) != permission_bits(actual)) {
      differences.push_back(name + ": mode " + octal(permission_bits(actual)) + ", expected " +
                            octal(extracted_mode(it->path())));
    }
  }
  if (error) {
    differences.push_back("cannot walk " + expected_root + ": " + error.message());
  }
  std::sort(expected_names.begin(), expected_names.end());
  std::vector<std::string> actual_names = tree_listing(actual_root);
  std::vector<std::string> extra;
  std::set_difference(actual_names.begin(), actual_names.end(), expected_names.begin(),
                      expected_names.end(), std::back_inserter(extra));
  for (const std::string& name : extra) {
    differences.push_back(name + ": not expected");
  }
  return differences;
}
