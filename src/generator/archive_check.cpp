#include "generator/archive_check.hpp"

#include <unzip.h>

#include <cstring>
#include <utility>
#include <vector>

#include "common/path_text.hpp"
#include "extract/archive_stream.hpp"
#include "extract/entry_name_encoding.hpp"
#include "package/zip_end_record.hpp"
#include "platform/platform.hpp"

namespace {

ArchiveEntryInfo entry_info(unzFile zip, const unz_file_info64& info, const char* name) {
  ArchiveEntryInfo entry{name,
                         info.uncompressed_size,
                         info.compressed_size,
                         static_cast<std::uint32_t>(info.crc),
                         static_cast<unsigned>(info.compression_method),
                         static_cast<std::uint32_t>(info.dosDate),
                         static_cast<unsigned>(info.version),
                         static_cast<std::uint32_t>(info.external_fa),
                         static_cast<unsigned long>(info.flag),
                         std::string(static_cast<std::size_t>(info.size_file_extra), '\0')};
  if (!entry.extra_field.empty() &&
      unzGetCurrentFileInfo64(zip, nullptr, nullptr, 0, &entry.extra_field[0],
                              static_cast<uLong>(entry.extra_field.size()), nullptr, 0) != UNZ_OK) {
    entry.extra_field.clear();
  }
  return entry;
}

// Reads the current entry through and lets minizip compare its CRC at the close.
// minizip compares the CRC only when the whole recorded size was read, so a stream that ends early
// must be caught by its length.
bool read_entry(unzFile zip, const std::string& name, std::uint64_t size, std::string& error) {
  if (unzOpenCurrentFile(zip) != UNZ_OK) {
    error = "cannot open entry " + name;
    return false;
  }
  std::vector<char> buffer(1 << 16);
  int count = 0;
  std::uint64_t total = 0;
  while ((count = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()))) >
         0) {
    total += static_cast<std::uint64_t>(count);
  }
  int closed = unzCloseCurrentFile(zip);
  if (count < 0 || total != size) {
    error = "entry " + name + " has damaged data";
    return false;
  }
  if (closed == UNZ_CRCERROR) {
    error = "entry " + name + " fails its CRC check";
    return false;
  }
  if (closed != UNZ_OK) {
    error = "cannot finish reading entry " + name;
    return false;
  }
  return true;
}

// Applies the stub's entry rules for `target` to the current entry, `entry`, in the order the
// stub's extraction does: the stored and the written name, then, for a file, its encryption and
// method.
bool passes_entry_rules(const unz_file_info64& info, const ArchiveEntryInfo& entry,
                        TargetPlatform target, std::string& error) {
  std::string refusal;
  std::string written;
  EntryNameVerdict verdict =
      check_entry_names(entry.name.c_str(), static_cast<unsigned long>(info.size_filename),
                        entry.flags, entry.extra_field, target, written);
  const char* name = written.c_str();
  std::size_t length = std::strlen(name);
  bool is_directory = length > 0 && is_separator(name[length - 1]);
  if (verdict != EntryNameVerdict::Accepted) {
    refusal = refusal_reason(verdict);
  } else if (!is_directory) {
    unsigned long method = static_cast<unsigned long>(info.compression_method);
    switch (check_entry_data(static_cast<unsigned long>(info.flag), method)) {
      case EntryDataVerdict::Accepted:
        break;
      case EntryDataVerdict::Encrypted:
        refusal = "the entry is encrypted";
        break;
      case EntryDataVerdict::UnsupportedMethod:
        refusal = "compression method " + std::to_string(method) + " is not supported";
        break;
    }
  }
  if (refusal.empty()) {
    return true;
  }
  error = std::string("the ") + (target == TargetPlatform::Windows ? "Windows" : "Linux") +
          " stub would refuse entry " + name + ": " + refusal;
  return false;
}

}  // namespace

bool check_archive(std::FILE* file, std::int64_t begin, std::int64_t end, ArchiveCheck check,
                   const EntryRules& rules, ArchiveSummary& summary, std::string& error,
                   ProgressLine* progress) {
  summary = ArchiveSummary{};
  ArchiveRegion region;
  region.read_file = [file](std::uint64_t offset, void* buffer, std::size_t size) {
    return platform::seek_file(file, static_cast<std::int64_t>(offset), SEEK_SET) == 0 &&
           std::fread(buffer, 1, size, file) == size;
  };
  region.base = static_cast<std::uint64_t>(begin);
  region.length = end > begin ? static_cast<std::uint64_t>(end - begin) : 0;
  if (progress != nullptr) {
    region.progress = [progress](std::uint64_t bytes) { progress->advance(bytes); };
  }
  ArchiveStream stream(std::move(region));
  UnzipHandle zip;
  bool opened = open_archive(stream, zip);
  if (opened && zip.get() == nullptr) {
    return true;
  }
  unz_global_info64 global;
  if (!opened || unzGetGlobalInfo64(zip.get(), &global) != UNZ_OK) {
    error = "not a ZIP archive";
    return false;
  }
  // minizip reports an empty archive's first entry as damaged rather than as the end of the list;
  // with no entry counted nothing is walked, and the comparison with the directory below decides.
  DirectoryWalk walk;
  int step = global.number_entry == 0 ? UNZ_END_OF_LIST_OF_FILE : unzGoToFirstFile(zip.get());
  while (step == UNZ_OK) {
    unz_file_info64 info;
    char name[1024] = {};
    if (unzGetCurrentFileInfo64(zip.get(), &info, name, sizeof name - 1, nullptr, 0, nullptr, 0) !=
        UNZ_OK) {
      error = "cannot read the archive's directory";
      return false;
    }
    if (walk.entries == 0) {
      walk.first_offset = static_cast<std::uint64_t>(unzGetOffset64(zip.get()));
    }
    ++walk.entries;
    walk.bytes +=
        k_central_header_size + info.size_filename + info.size_file_extra + info.size_file_comment;
    ++summary.entry_count;
    summary.entries.push_back(entry_info(zip.get(), info, name));
    summary.total_size += info.uncompressed_size;
    if (rules.use == EntryRules::Use::Apply &&
        !passes_entry_rules(info, summary.entries.back(), rules.target, error)) {
      return false;
    }
    if (check == ArchiveCheck::ReadEveryEntry &&
        !read_entry(zip.get(), name, info.uncompressed_size, error)) {
      return false;
    }
    step = unzGoToNextFile(zip.get());
  }
  if (step != UNZ_END_OF_LIST_OF_FILE) {
    error = "cannot read the archive's directory";
    return false;
  }
  if (summary.entry_count != global.number_entry) {
    error = "the archive's directory lists " + std::to_string(summary.entry_count) +
            " entries, its end record " + std::to_string(global.number_entry);
    return false;
  }
  // The stub extracts only what the end record counts: an archive whose directory holds more
  // would lose entries there.
  ZipEndRecord record;
  DirectoryFill fill = read_zip_end_record(stream.reader(), stream.size(), record)
                           ? compare_directory_walk(record, walk)
                           : DirectoryFill::Mismatch;
  if (fill != DirectoryFill::Exact) {
    error = directory_fill_problem(fill);
    return false;
  }
  return true;
}
