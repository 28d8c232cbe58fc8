// SPDX-License-Identifier: Zlib
#include "generator/archive_check.hpp"

#include <unzip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

#include "common/display_text.hpp"
#include "common/path_text.hpp"
#include "console/messages.hpp"
#include "extract/archive_extraction.hpp"
#include "extract/archive_stream.hpp"
#include "extract/entry_extraction.hpp"
#include "extract/entry_name_encoding.hpp"
#include "extract/entry_names.hpp"
#include "extract/entry_sink.hpp"
#include "extract/extraction_plan.hpp"
#include "package/zip_end_record.hpp"
#include "platform/platform.hpp"

namespace {

ArchiveEntryInfo entry_info(const ArchiveAccess& access, const unz_file_info64& info,
                            const char* name) {
  unzFile zip = access.zip;
  ArchiveEntryInfo entry{name,
                         info.uncompressed_size,
                         info.compressed_size,
                         static_cast<std::uint32_t>(info.crc),
                         static_cast<unsigned>(info.compression_method),
                         static_cast<std::uint32_t>(info.dosDate),
                         static_cast<unsigned>(info.version),
                         static_cast<std::uint32_t>(info.external_fa),
                         static_cast<unsigned long>(info.flag),
                         std::string(static_cast<std::size_t>(info.size_file_extra), '\0'),
                         false,
                         std::string()};
  if (!entry.extra_field.empty() &&
      unzGetCurrentFileInfo64(zip, nullptr, nullptr, 0, &entry.extra_field[0],
                              static_cast<uLong>(entry.extra_field.size()), nullptr, 0) != UNZ_OK) {
    entry.extra_field.clear();
  }
  entry.link = !entry.name.empty() && !is_separator(entry.name.back()) &&
               is_symbolic_link(entry.version_made_by, entry.external_attributes);
  if (entry.link) {
    entry.link_target = link_target_of(access, info);
  }
  return entry;
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
        refusal = unsupported_method_reason(method);
        break;
    }
    LinkTargetVerdict link = LinkTargetVerdict::Accepted;
    if (refusal.empty() && entry.link && target == TargetPlatform::Linux) {
      link = check_link_target(entry_path(name, target), entry.link_target);
    }
    if (link != LinkTargetVerdict::Accepted) {
      refusal = link_refusal_reason(link);
    }
  }
  if (refusal.empty()) {
    return true;
  }
  error = std::string("the ") + (target == TargetPlatform::Windows ? "Windows" : "Linux") +
          " stub would refuse entry " + name + ": " + refusal;
  return false;
}

// The sink that writes nothing, but remembers the links a Linux stub makes, so that an entry whose
// path runs through one is refused here as the disk refuses it (ELOOP).
class LinkAwareNullSink final : public NullSink {
 public:
  int make_directory(const std::string& path, unsigned) override {
    return through_link(path, true);
  }
  int set_directory_mode(const std::string& path, unsigned) override {
    return through_link(path, true);
  }
  int open_file(const std::string& path, unsigned, bool& created) override {
    created = false;
    int error = through_link(path, false);
    if (error == 0) {
      m_links.erase(key(path));
    }
    return error;
  }
  int make_link(const std::string& path, const std::string&) override {
    int error = through_link(path, false);
    if (error == 0) {
      m_links.insert(key(path));
    }
    return error;
  }

 private:
  // `path`'s components ('/' separated, as a Linux stub writes them), "." and empty ones dropped.
  static std::string key(const std::string& path) {
    std::string joined;
    for (std::size_t begin = 0; begin <= path.size();) {
      std::size_t end = std::min(path.find('/', begin), path.size());
      std::string component = path.substr(begin, end - begin);
      if (!component.empty() && component != ".") {
        joined += (joined.empty() ? "" : "/") + component;
      }
      begin = end + 1;
    }
    return joined;
  }
  // ELOOP when a link made before is a folder on `path`'s way, or, with `itself`, `path` itself.
  int through_link(const std::string& path, bool itself) const {
    std::string joined = key(path);
    for (std::size_t end = joined.find('/');; end = joined.find('/', end + 1)) {
      if ((end != std::string::npos || itself) && m_links.count(joined.substr(0, end)) > 0) {
        return ELOOP;
      }
      if (end == std::string::npos) {
        return 0;
      }
    }
  }

  std::set<std::string> m_links;
};

// The name of the platform whose stub the messages are about.
std::string stub_name(TargetPlatform target) {
  return target == TargetPlatform::Windows ? "the Windows stub" : "the Linux stub";
}

// Extracts every entry of `zip`, which reads `stream`, into the sink that writes nothing, as the
// stub for `target` does on one thread: its entry rules, its reads, its inflater and its checks
// of the data. What the stub would print about the entry it stops at becomes `error`.
bool extract_every_entry(ArchiveStream& stream, unzFile zip, TargetPlatform target,
                         std::string& error) {
  LinkAwareNullSink sink;
  HeldMessages held;
  if (extract_all_entries(ArchiveAccess{zip, stream.reader(), target}, 022, sink) ==
      k_extract_ok) {
    return true;
  }
  std::string said;
  for (const HeldMessages::Line& line : held.take()) {
    std::string text = line.text;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
      text.pop_back();
    }
    said += (said.empty() ? "" : "; ") + text;
  }
  const std::string refusing = "refusing entry ";
  if (said.compare(0, refusing.size(), refusing) == 0) {
    error = stub_name(target) + " would refuse entry " + said.substr(refusing.size());
    return false;
  }
  // The extraction stops at the entry that failed.
  char name[1024] = {};
  unz_file_info64 info;
  std::string at;
  if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name - 1, nullptr, 0, nullptr, 0) ==
      UNZ_OK) {
    at = " at entry " + display_text(name);
  }
  error = stub_name(target) + " would stop" + at + ": " + said;
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
  // The stub's own walk: what it counts, decodes and compares with the end record. Verifying
  // applies the entry rules in the extraction below, where the stub applies them; a listing that
  // asks for them applies them here.
  std::string refusal;
  ExtractionPlan plan = plan_extraction(
      stream, zip.get(), rules.target,
      [&](unzFile archive, const unz_file_info64& info, const char* name) {
        summary.entries.push_back(
            entry_info(ArchiveAccess{archive, stream.reader(), rules.target}, info, name));
        if (refusal.empty() && rules.use == EntryRules::Use::Apply &&
            check == ArchiveCheck::ListOnly) {
          (void)passes_entry_rules(info, summary.entries.back(), rules.target, refusal);
        }
      });
  summary.entry_count = plan.walk.entries;
  summary.total_size = plan.needed;
  if (!refusal.empty()) {
    error = refusal;
    return false;
  }
  if (!plan.walked) {
    error = "cannot read the archive's directory";
    return false;
  }
  // The stub extracts only what the end record counts: an archive whose directory holds more
  // would lose entries there.
  if (plan.fill != DirectoryFill::Exact) {
    error = directory_fill_problem(plan.fill);
    return false;
  }
  return check == ArchiveCheck::ListOnly ||
         extract_every_entry(stream, zip.get(), rules.target, error);
}
