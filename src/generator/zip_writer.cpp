// SPDX-License-Identifier: Zlib
#include "generator/zip_writer.hpp"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "common/dos_time.hpp"
#include "common/stdio_file.hpp"
#include "common/utf8_text.hpp"
#include "generator/offset_file_io.hpp"

namespace {

// Made by a Unix host (high byte), ZIP 3.0 (low byte), so readers take the permission bits from
// the high half of the external attributes.
constexpr uLong k_version_made_by = (3u << 8) | 30u;
constexpr uLong k_unix_regular_file = 0100000;
constexpr uLong k_unix_directory = 0040000;
constexpr uLong k_dos_directory_attribute = 0x10;
// General-purpose flag bit 11: the name is UTF-8.
constexpr uLong k_flag_utf8_name = 0x800;
// At or above this size an entry needs zip64 size fields.
constexpr std::uint64_t k_zip64_size = 0xFFFFFFFFu;

struct ZipCloser {
  void operator()(void* zip) const { zipClose(static_cast<zipFile>(zip), nullptr); }
};

zip_fileinfo file_info(const ArchiveItem& item) {
  zip_fileinfo info{};
  // minizip writes `dosDate` when it is set; the calendar fields only go along with it.
  info.dosDate = item.dos_date_time;
  std::tm fields = dos_date_time_fields(item.dos_date_time);
  info.tmz_date.tm_year = static_cast<uInt>(fields.tm_year + 1900);
  info.tmz_date.tm_mon = static_cast<uInt>(fields.tm_mon);
  info.tmz_date.tm_mday = static_cast<uInt>(fields.tm_mday);
  info.tmz_date.tm_hour = static_cast<uInt>(fields.tm_hour);
  info.tmz_date.tm_min = static_cast<uInt>(fields.tm_min);
  info.tmz_date.tm_sec = static_cast<uInt>(fields.tm_sec);
  uLong type = item.is_directory ? k_unix_directory : k_unix_regular_file;
  info.external_fa =
      ((type | (item.mode & 0777)) << 16) | (item.is_directory ? k_dos_directory_attribute : 0);
  return info;
}

bool write_content(zipFile zip, const ArchiveItem& item, ProgressLine* progress,
                   std::string& error) {
  if (item.source_path.empty()) {
    // Written in pieces: one call takes at most an unsigned count.
    std::size_t done = 0;
    while (done < item.data.size()) {
      unsigned piece =
          static_cast<unsigned>(std::min<std::size_t>(item.data.size() - done, 1u << 20));
      if (zipWriteInFileInZip(zip, item.data.data() + done, piece) != ZIP_OK) {
        error = "cannot write entry " + item.name + " into the archive";
        return false;
      }
      done += piece;
      advance_progress(progress, piece);
    }
    return true;
  }
  StdioFile source = StdioFile::open(item.source_path, "rb");
  if (!source) {
    error = "cannot open " + item.source_path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<char> buffer(1 << 16);
  for (;;) {
    std::size_t count = std::fread(buffer.data(), 1, buffer.size(), source.get());
    if (count > 0 &&
        zipWriteInFileInZip(zip, buffer.data(), static_cast<unsigned>(count)) != ZIP_OK) {
      error = "cannot write entry " + item.name + " into the archive";
      return false;
    }
    advance_progress(progress, count);
    if (count < buffer.size()) {
      break;
    }
  }
  if (std::ferror(source.get())) {
    error = "cannot read " + item.source_path;
    return false;
  }
  return true;
}

// Names that are UTF-8 beyond plain ASCII say so, or readers would take them for CP437; a name
// that is not valid UTF-8 (a Linux file name in another character set) never claims to be.
uLong name_flags(const std::string& name) {
  bool ascii = std::all_of(name.begin(), name.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return !ascii && is_valid_utf8(name) ? k_flag_utf8_name : 0;
}

}  // namespace

std::uint64_t content_size(const ArchiveItem& item) {
  if (item.source_path.empty()) {
    return item.data.size();
  }
  std::error_code failure;
  std::uintmax_t size = std::filesystem::file_size(item.source_path, failure);
  return failure ? 0 : static_cast<std::uint64_t>(size);
}

bool write_zip(std::FILE* file, std::int64_t begin, const std::vector<ArchiveItem>& items,
               int level, std::string& error, ProgressLine* progress) {
  FileRegion region{file, begin};
  zlib_filefunc64_def functions;
  fill_region_functions(functions, region);
  std::unique_ptr<void, ZipCloser> zip(zipOpen2_64("", APPEND_STATUS_CREATE, nullptr, &functions));
  if (!zip) {
    error = "cannot start the archive";
    return false;
  }
  for (const ArchiveItem& item : items) {
    zip_fileinfo info = file_info(item);
    bool stored = item.is_directory || level == 0;
    int zip64 = !item.is_directory && content_size(item) >= k_zip64_size ? 1 : 0;
    int result = zipOpenNewFileInZip4_64(zip.get(), item.name.c_str(), &info, nullptr, 0, nullptr,
                                         0, nullptr, stored ? 0 : Z_DEFLATED, stored ? 0 : level, 0,
                                         -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                         k_version_made_by, name_flags(item.name), zip64);
    if (result != ZIP_OK) {
      error = "cannot add entry " + item.name + " to the archive";
      return false;
    }
    if (!item.is_directory && !write_content(zip.get(), item, progress, error)) {
      return false;
    }
    if (zipCloseFileInZip(zip.get()) != ZIP_OK) {
      error = "cannot finish entry " + item.name + " in the archive";
      return false;
    }
  }
  if (zipClose(zip.release(), nullptr) != ZIP_OK) {
    error = "cannot finish the archive";
    return false;
  }
  return true;
}
