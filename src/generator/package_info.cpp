// SPDX-License-Identifier: Zlib
#include "generator/package_info.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "common/display_text.hpp"
#include "common/dos_time.hpp"
#include "common/stdio_file.hpp"
#include "common/utf8_text.hpp"
#include "extract/entry_name_encoding.hpp"
#include "extract/entry_names.hpp"
#include "generator/stub_check.hpp"
#include "package/entry_rules.hpp"
#include "package/trailer_layout.hpp"
#include "package/trailer_search.hpp"
#include "platform/platform.hpp"

namespace {

// Keys in the order written, which is the order a reader expects them in.
using Json = nlohmann::ordered_json;

// The name the package's stub writes `entry` under: decoded from CP437 for a Windows stub, kept
// byte for byte for a Linux one, where the archive does not tell UTF-8.
std::string written_name(const ArchiveEntryInfo& entry, TargetPlatform target) {
  return decoded_entry_name(entry.name, entry.flags, entry.extra_field,
                            target == TargetPlatform::Windows ? LegacyNameRule::ConvertFromCp437
                                                              : LegacyNameRule::KeepBytes);
}

bool is_directory(const std::string& name) {
  return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

std::string hex_bytes(const std::string& bytes) {
  static const char k_hex[] = "0123456789abcdef";
  std::string text;
  for (char c : bytes) {
    unsigned char byte = static_cast<unsigned char>(c);
    text += k_hex[byte >> 4];
    text += k_hex[byte & 0xf];
  }
  return text;
}

// `json` with DEL and the C1 controls (U+0080 to U+009F) in its strings as \u escapes, like the
// C0 controls that the JSON library escapes itself. The library's output is valid UTF-8, where
// 0xC2 only ever leads a character.
std::string escape_other_controls(const std::string& json) {
  std::string text;
  text.reserve(json.size());
  for (std::size_t i = 0; i < json.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(json[i]);
    unsigned char next = i + 1 < json.size() ? static_cast<unsigned char>(json[i + 1]) : 0;
    bool c1_control = byte == 0xC2 && next >= 0x80 && next <= 0x9F;
    if (byte == 0x7f || c1_control) {
      text += "\\u00" + hex_bytes(std::string(1, static_cast<char>(c1_control ? next : byte)));
      i += c1_control ? 1 : 0;
    } else {
      text += json[i];
    }
  }
  return text;
}

// The entry's stored permission bits, or -1 when it was not made on Unix.
int stored_permissions(const ArchiveEntryInfo& entry) {
  long mode = stored_unix_mode(entry.version_made_by, entry.external_attributes);
  return mode < 0 ? -1 : static_cast<int>(mode & 07777);
}

std::string octal_mode(int mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode));
  return text;
}

std::string hex_crc(std::uint32_t crc) {
  char text[12];
  std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(crc));
  return text;
}

// The stored DOS date and time as written, with `separator` between date and time: DOS times
// carry no time zone.
std::string dos_time_text(std::uint32_t dos_date_time, char separator) {
  std::tm fields = dos_date_time_fields(dos_date_time);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d:%02d", fields.tm_year + 1900,
                fields.tm_mon + 1, fields.tm_mday, separator, fields.tm_hour, fields.tm_min,
                fields.tm_sec);
  return text;
}

Json optional_text(const std::optional<std::string>& text) {
  return text ? Json(*text) : Json(nullptr);
}

Json trailer_json(const TrailerInfo& trailer) {
  std::int64_t trailer_offset = trailer.archive_offset + trailer.archive_length;
  return {{"layout_version", trailer.layout_version},
          {"command_template", trailer.command_template},
          {"extra_tool_command", optional_text(trailer.extra_tool_command)},
          {"archive_offset", trailer.archive_offset},
          {"archive_length", trailer.archive_length},
          {"trailer_offset", trailer_offset},
          {"trailer_length", trailer.trailer_end - trailer_offset},
          {"bytes_after_trailer", trailer.bytes_after}};
}

Json signature_json(const PackageInfo& info) {
  if (!info.signature) {
    return nullptr;
  }
  return {{"type", "authenticode"},
          {"offset", info.signature->offset},
          {"length", info.signature->length},
          {"after_trailer", info.signature->offset >= info.trailer.trailer_end}};
}

Json stub_json(const PackageInfo& info) {
  if (!info.stub) {
    return nullptr;
  }
  return {{"platform", stub_platform_text(info.stub->platform)},
          {"execution_level", stub_level_text(info.stub->level)},
          {"version", info.stub->version},
          {"revision", info.stub->revision}};
}

// The marker of the stub that `file` starts with, searched for within its executable image and
// below `limit`.
std::optional<StubMarker> leading_stub(std::FILE* file, std::int64_t limit,
                                       ExecutableImage& image) {
  image = read_executable_image(file);
  StubMarker marker;
  if (image.kind == ExecutableImage::Kind::Other ||
      find_stub_marker(file, std::min(limit, image.end), marker) != MarkerSearch::Found) {
    return std::nullopt;
  }
  return marker;
}

// Why the file in `file`, whose trailer the stub would not find (`reason`), is no package, in
// plain words: a marked stub with more bytes after its image (a signature aside) is a package cut
// short or damaged; a marked stub alone is a bare stub; anything else is not a package.
std::string missing_trailer(std::FILE* file, PackageInfo& info, const std::string& reason) {
  ExecutableImage image;
  info.stub = leading_stub(file, k_package_size_limit, image);
  if (!info.stub) {
    return "not a package: " + reason;
  }
  std::int64_t end = image.end;
  if (std::optional<SignatureSpan> signature = find_pe_signature(file)) {
    end = std::max(end, signature->offset + signature->length);
  }
  if (platform::seek_file(file, 0, SEEK_END) == 0 && platform::tell_file(file) <= end) {
    return "an sfxkit stub without a payload, not a package: " + reason;
  }
  return "damaged or incomplete package, download or copy it again: " + reason;
}

Json entry_json(const ArchiveEntryInfo& entry, TargetPlatform target) {
  int mode = stored_permissions(entry);
  std::string name = written_name(entry, target);
  return {{"name", name},
          {"name_hex", is_valid_utf8(entry.name) ? Json(nullptr) : Json(hex_bytes(entry.name))},
          {"type", is_directory(name) ? "directory"
                   : entry.link       ? "link"
                                      : "file"},
          {"link_target", entry.link ? Json(entry.link_target) : Json(nullptr)},
          {"size", entry.size},
          {"compressed_size", entry.compressed_size},
          {"crc32", hex_crc(entry.crc)},
          {"method", entry.method},
          {"time", dos_time_text(entry.dos_date_time, 'T')},
          {"mode", mode < 0 ? Json(nullptr) : Json(octal_mode(mode))}};
}

}  // namespace

bool inspect_package(const std::string& path, ArchiveCheck check, PackageInfo& info,
                     std::string& error, const ProgressOutput& progress) {
  info = PackageInfo{};
  StdioFile file = StdioFile::open(path, "rb");
  if (!file) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!read_trailer(file.get(), info.trailer, error)) {
    std::int64_t position = 0;
    if (info.trailer.file_size < k_package_size_limit &&
        find_version_pattern(file.get(), info.trailer.file_size - k_pattern_field_size, position) ==
            PatternSearch::NotFound) {
      error = missing_trailer(file.get(), info, error);
    }
    error = path + ": " + error;
    return false;
  }
  info.trailer_read = true;
  ExecutableImage image;
  info.stub = leading_stub(file.get(), info.trailer.archive_offset, image);
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
  if (info.stub) {
    rules.target = info.stub->platform;
  }
  info.target = rules.target;
  info.signature = find_pe_signature(file.get());
  std::int64_t begin = info.trailer.archive_offset;
  ProgressLine line(check == ArchiveCheck::ReadEveryEntry ? progress : ProgressOutput{},
                    "verifying " + path, info.trailer.archive_length);
  if (!check_archive(file.get(), begin, begin + info.trailer.archive_length, check, rules,
                     info.archive, error, &line)) {
    // Entries that the stub accepts, listed in full, whose data does not read back: damage.
    ArchiveSummary listed;
    std::string listing_error;
    bool damaged = check == ArchiveCheck::ReadEveryEntry &&
                   check_archive(file.get(), begin, begin + info.trailer.archive_length,
                                 ArchiveCheck::ListOnly, rules, listed, listing_error);
    error = path + (damaged ? ": damaged package: archive: " : ": archive: ") + error;
    return false;
  }
  info.archive_read = true;
  return true;
}

std::string describe_package(const PackageInfo& info) {
  const TrailerInfo& trailer = info.trailer;
  std::string text;
  if (info.stub) {
    text += std::string("stub platform:       ") + stub_platform_text(info.stub->platform) + "\n";
    text += std::string("stub level:          ") + stub_level_text(info.stub->level) +
            (info.stub->level == StubLevel::Elevated ? " (asks for administrator rights)\n" : "\n");
    text += "stub version:        sfxkit " + display_text(info.stub->version) + ", revision " +
            display_text(info.stub->revision) + "\n";
  } else {
    text += "stub:                no sfxkit stub marker (an older or a foreign stub)\n";
  }
  text += "layout version:      " + display_text(trailer.layout_version) + "\n";
  text += "command template:    " + display_text(trailer.command_template) + "\n";
  if (trailer.extra_tool_command) {
    text += "extra-tool command:  " + display_text(*trailer.extra_tool_command) + "\n";
  }
  text += "archive offset:      " + std::to_string(trailer.archive_offset) + "\n";
  text += "archive length:      " + std::to_string(trailer.archive_length) + "\n";
  text += "bytes after trailer: " + std::to_string(trailer.bytes_after) + "\n";
  if (info.signature) {
    text += "signature:           Authenticode, " + std::to_string(info.signature->length) +
            " bytes" +
            (info.signature->offset >= trailer.trailer_end
                 ? " after the trailer\n"
                 : " within the stub: packed after signing, no longer valid\n");
  }
  text += "archive entries:     " + std::to_string(info.archive.entry_count) + "\n";
  text += "archive total size:  " + std::to_string(info.archive.total_size) + "\n";
  return text;
}

std::string describe_entries(const PackageInfo& info) {
  std::string text;
  for (const ArchiveEntryInfo& entry : info.archive.entries) {
    int mode = stored_permissions(entry);
    std::string name = written_name(entry, info.target);
    char size[24];
    std::snprintf(size, sizeof size, "%12llu", static_cast<unsigned long long>(entry.size));
    text += std::string(is_directory(name) ? "d "
                        : entry.link       ? "l "
                                           : "- ") +
            (mode < 0 ? std::string("    ") : octal_mode(mode)) + " " + size + "  " +
            hex_crc(entry.crc) + "  " + dos_time_text(entry.dos_date_time, ' ') + "  " +
            display_text(name) + (entry.link ? " -> " + display_text(entry.link_target) : "") +
            "\n";
  }
  return text;
}

std::string package_json(const PackageReport& report, ReportEntries entries) {
  const PackageInfo& info = report.info;
  Json document = {{"schema", 1}, {"package", report.path}};
  document["file_size"] = info.trailer_read ? Json(info.trailer.file_size) : nullptr;
  document["trailer"] = info.trailer_read ? trailer_json(info.trailer) : nullptr;
  document["signature"] = info.trailer_read ? signature_json(info) : nullptr;
  document["stub"] = stub_json(info);
  document["archive"] = info.archive_read ? Json{{"entries", info.archive.entry_count},
                                                 {"total_size", info.archive.total_size}}
                                          : nullptr;
  if (entries == ReportEntries::Include) {
    Json list = Json::array();
    for (const ArchiveEntryInfo& entry : info.archive.entries) {
      list.push_back(entry_json(entry, info.target));
    }
    document["entries"] = info.archive_read ? list : nullptr;
  }
  document["verified"] = report.verified ? Json(*report.verified) : nullptr;
  document["error"] = report.error.empty() ? Json(nullptr) : Json(report.error);
  return escape_other_controls(document.dump(2, ' ', false, Json::error_handler_t::replace)) + "\n";
}
