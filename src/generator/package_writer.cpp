// SPDX-License-Identifier: Zlib
#include "generator/package_writer.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "common/path_text.hpp"
#include "common/stdio_file.hpp"
#include "extract/entry_name_encoding.hpp"
#include "generator/archive_check.hpp"
#include "generator/folder_scan.hpp"
#include "generator/item_names.hpp"
#include "generator/stub_check.hpp"
#include "generator/zip_writer.hpp"
#include "package/entry_rules.hpp"
#include "package/trailer_codec.hpp"
#include "package/trailer_layout.hpp"
#include "platform/platform.hpp"

namespace fs = std::filesystem;

namespace {

// Whether `text` holds nothing but blanks and line ends (or nothing at all).
bool holds_only_white_space(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

bool check_texts(const PackageRequest& request, std::string& error) {
  if (holds_only_white_space(request.command_template)) {
    error = "the command template is empty; the stub would have nothing to run";
    return false;
  }
  if (!check_command_field(request.command_template, "the command template", error)) {
    return false;
  }
  if (request.extra_tool_command) {
    if (holds_only_white_space(*request.extra_tool_command)) {
      error = "the extra-tool command is empty";
      return false;
    }
    if (!check_command_field(*request.extra_tool_command, "the extra-tool command", error)) {
      return false;
    }
  }
  if (request.level < 0 || request.level > 9) {
    error = "the compression level must be 0 to 9";
    return false;
  }
  return true;
}

// The size of the regular file `path`, which must be smaller than a package may be; or -1 with a
// message in `error`.
std::int64_t input_file_size(const std::string& path, const char* what, std::string& error) {
  std::error_code failure;
  if (!fs::is_regular_file(path, failure)) {
    error = std::string("cannot read the ") + what + " " + path +
            (fs::exists(path, failure) ? ": not a regular file" : ": no such file");
    return -1;
  }
  std::uintmax_t size = fs::file_size(path, failure);
  if (failure) {
    error = std::string("cannot read the ") + what + " " + path + ": " + failure.message();
    return -1;
  }
  if (size >= static_cast<std::uintmax_t>(k_package_size_limit)) {
    error = std::string("the ") + what + " " + path + " is 2 GiB or larger";
    return -1;
  }
  return static_cast<std::int64_t>(size);
}

// Copies all of `from` to the current position of `to`, telling `progress`.
bool append_file(std::FILE* to, const std::string& from, ProgressLine& progress,
                 std::string& error) {
  StdioFile source = StdioFile::open(from, "rb");
  if (!source) {
    error = "cannot open " + from + ": " + std::strerror(errno);
    return false;
  }
  std::vector<char> buffer(1 << 16);
  std::size_t count = 0;
  while ((count = std::fread(buffer.data(), 1, buffer.size(), source.get())) > 0) {
    if (std::fwrite(buffer.data(), 1, count, to) != count) {
      error = "cannot write the package: " + std::string(std::strerror(errno));
      return false;
    }
    progress.advance(count);
  }
  if (std::ferror(source.get())) {
    error = "cannot read " + from;
    return false;
  }
  return true;
}

// Gathers and checks the archive's input before anything is written: every entry must pass the
// entry rules of the stub it is packed with.
bool prepare_source(const PackageRequest& request, TargetPlatform target,
                    std::vector<ArchiveItem>& items, std::vector<std::string>& files,
                    std::string& error, std::vector<std::string>& warnings) {
  switch (request.source) {
    case ArchiveSource::Folder: {
      FolderScanOptions options;
      options.outside_links = request.outside_links;
      options.skipped_file = request.output_path;
      options.source_date_epoch = request.source_date_epoch;
      return scan_folder(request.source_path, options, items, error) &&
             check_item_names(items, target, error, warnings, &files);
    }
    case ArchiveSource::Items:
      items = request.items;
      return check_item_names(items, target, error, warnings, &files);
    case ArchiveSource::ZipFile: {
      std::int64_t size = input_file_size(request.source_path, "ZIP file", error);
      if (size < 0) {
        return false;
      }
      StdioFile zip = StdioFile::open(request.source_path, "rb");
      ArchiveSummary summary;
      if (!zip) {
        error = "cannot open " + request.source_path + ": " + std::strerror(errno);
        return false;
      }
      EntryRules rules;
      rules.target = target;
      if (!check_archive(zip.get(), 0, size, ArchiveCheck::ListOnly, rules, summary, error)) {
        error = request.source_path + ": " + error;
        return false;
      }
      for (const ArchiveEntryInfo& entry : summary.entries) {
        std::string written =
            written_entry_name(entry.name, entry.flags, entry.extra_field, target);
        if (entry.link && target == TargetPlatform::Windows) {
          warnings.push_back("entry " + written +
                             " is a symbolic link: the Windows stub writes it as a file holding "
                             "its target");
        }
        if (!written.empty() && !is_separator(written.back())) {
          files.push_back(written);
        }
      }
      if (!check_file_names_apart(files, target, error, warnings)) {
        error = request.source_path + ": " + error;
        return false;
      }
      return true;
    }
  }
  return false;
}

// The package replaces what `output_path` names once it is complete: that must not be one of its
// inputs, under this or any other name (another path, a hard link).
bool check_output_path(const PackageRequest& request, std::string& error) {
  std::error_code failure;
  if (fs::equivalent(request.output_path, request.stub_path, failure) && !failure) {
    error = "the package " + request.output_path + " would replace the stub " + request.stub_path;
    return false;
  }
  if (request.source == ArchiveSource::ZipFile &&
      fs::equivalent(request.output_path, request.source_path, failure) && !failure) {
    error = "the package " + request.output_path + " would replace the ZIP file " +
            request.source_path;
    return false;
  }
  return check_output_target(request.output_path, error);
}

// The package while it is written: a new file beside the output, under a name nobody can guess
// (`PACKAGE.partial-` and 16 random hex digits), created for the current user alone and never
// through a link, so that nobody else can plant, open or swap it. Removed unless kept.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile() {
    if (!m_path.empty() && !m_kept) {
      // Closed first: Windows removes no file that is open.
      (void)m_file.close();
      (void)platform::remove_file(m_path);
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Creates the file for `final_path`. Returns 0 or an errno value.
  [[nodiscard]] int create(const std::string& final_path) {
    static const char k_hex[] = "0123456789abcdef";
    unsigned char random[8];
    int result = platform::random_bytes(random, sizeof random);
    if (result != 0) {
      return result;
    }
    std::string path = final_path + ".partial-";
    for (unsigned char byte : random) {
      path += k_hex[byte >> 4];
      path += k_hex[byte & 0xf];
    }
    result = platform::create_exclusive_file(path, m_file);
    if (result == 0) {
      m_path = path;
    }
    return result;
  }
  const std::string& path() const { return m_path; }
  const platform::FileHandle& file() const { return m_file; }
  // Closes the file and renames it to `final_path`, replacing what has that name; it then stays.
  // Returns the failure, after which the file is still removed.
  [[nodiscard]] std::error_code move_to(const std::string& final_path) {
    std::error_code failure(m_file.close(), std::generic_category());
    if (!failure) {
      fs::rename(m_path, final_path, failure);
    }
    m_kept = !failure;
    return failure;
  }

 private:
  std::string m_path;
  platform::FileHandle m_file;
  bool m_kept = false;
};

// The bytes that building the package reads: the stub and the archive's content.
std::uint64_t bytes_to_pack(const PackageRequest& request, const std::vector<ArchiveItem>& items) {
  std::error_code failure;
  std::uint64_t total = fs::file_size(request.stub_path, failure);
  if (request.source == ArchiveSource::ZipFile) {
    return total + fs::file_size(request.source_path, failure);
  }
  for (const ArchiveItem& item : items) {
    total += item.is_directory ? 0 : content_size(item);
  }
  return total;
}

// Writes stub, archive and trailer into the open `out`.
bool write_contents(std::FILE* out, const PackageRequest& request,
                    const std::vector<ArchiveItem>& items, std::string& error) {
  ProgressLine progress(request.progress, "building " + request.output_path,
                        bytes_to_pack(request, items));
  if (!append_file(out, request.stub_path, progress, error)) {
    return false;
  }
  std::int64_t archive_begin = platform::tell_file(out);
  if (request.source == ArchiveSource::ZipFile) {
    if (!append_file(out, request.source_path, progress, error)) {
      return false;
    }
  } else if (!write_zip(out, archive_begin, items, request.level, error, &progress)) {
    return false;
  }
  if (platform::seek_file(out, 0, SEEK_END) != 0) {
    error = "cannot write the package";
    return false;
  }
  std::int64_t archive_end = platform::tell_file(out);
  std::int64_t archive_length = archive_end - archive_begin;
  if (archive_begin < 0 || archive_end < 0 || archive_length >= k_package_size_limit) {
    error = "the archive is " + std::to_string(archive_length) +
            " bytes long; it must be smaller than 2 GiB";
    return false;
  }
  std::string trailer =
      encode_trailer(request.command_template, static_cast<std::uint32_t>(archive_length),
                     request.extra_tool_command);
  if (archive_end + static_cast<std::int64_t>(trailer.size()) >= k_package_size_limit) {
    error = "the package would be 2 GiB or larger";
    return false;
  }
  if (std::fwrite(trailer.data(), 1, trailer.size(), out) != trailer.size()) {
    error = "cannot write the package: " + std::string(std::strerror(errno));
    return false;
  }
  return true;
}

// Whether the 32 bytes where the stub probes for an extra tool section would hold its pattern in a
// package written without one: the archive's last 28 bytes and the command section's first 4.
bool looks_like_extra_tool_section(std::FILE* file, std::string& error) {
  if (platform::seek_file(file, 0, SEEK_END) != 0) {
    return false;
  }
  std::optional<std::string> command;
  if (probe_extra_tool_section(file, platform::tell_file(file) - k_extra_tool_probe_distance,
                               command) != TrailerFault::None ||
      !command) {
    return false;
  }
  error =
      "the archive's last bytes look like an extra tool section; the stub would misread the "
      "package";
  return true;
}

// Reads the written package in `file` back as the stub would and compares it with the request.
bool check_written(std::FILE* file, const PackageRequest& request, std::string& error) {
  if (std::fflush(file) != 0) {
    error = "cannot write the package: " + std::string(std::strerror(errno));
    return false;
  }
  if (!request.extra_tool_command && looks_like_extra_tool_section(file, error)) {
    return false;
  }
  TrailerInfo info;
  if (!read_trailer(file, info, error)) {
    error = "the written package does not read back: " + error;
    return false;
  }
  if (info.command_template != request.command_template ||
      info.extra_tool_command != request.extra_tool_command || info.bytes_after != 0) {
    error = "the written package does not read back as written";
    return false;
  }
  return true;
}

}  // namespace

bool check_output_target(const std::string& output_path, std::string& error) {
  std::error_code failure;
  fs::file_type type = fs::status(output_path, failure).type();
  const char* what = nullptr;
  switch (type) {
    case fs::file_type::none:
    case fs::file_type::not_found:
    case fs::file_type::regular:
      return true;
    case fs::file_type::directory:
      what = "a folder";
      break;
    case fs::file_type::character:
    case fs::file_type::block:
      what = "a device";
      break;
    case fs::file_type::fifo:
      what = "a FIFO";
      break;
    case fs::file_type::socket:
      what = "a socket";
      break;
    default:
      what = "something other than a regular file";
      break;
  }
  error = "the package " + output_path + " would replace " + what +
          "; only a regular file is replaced by a package";
  return false;
}

bool write_package(const PackageRequest& request, std::string& error,
                   std::vector<std::string>* warnings) {
  if (!check_texts(request, error)) {
    return false;
  }
  if (input_file_size(request.stub_path, "stub", error) < 0 ||
      !check_output_path(request, error)) {
    return false;
  }
  StubMarker stub;
  if (!check_stub(request.stub_path, stub, error)) {
    return false;
  }
  std::vector<ArchiveItem> items;
  std::vector<std::string> noted;
  std::vector<std::string> files;
  if (!prepare_source(request, stub.platform, items, files, error, noted)) {
    return false;
  }
  note_missing_program(request.command_template, "command", files, stub.platform, noted);
  if (request.extra_tool_command) {
    note_missing_program(*request.extra_tool_command, "extra tool", files, stub.platform, noted);
  }
  if (warnings != nullptr) {
    *warnings = noted;
  }

  TemporaryFile partial;
  int created = partial.create(request.output_path);
  if (created != 0) {
    error = "cannot create a file beside " + request.output_path + ": " + std::strerror(created);
    return false;
  }
  {
    StdioFile out(platform::open_file_stream(partial.file()));
    if (!out) {
      error = "cannot write " + partial.path() + ": " + std::strerror(errno);
      return false;
    }
    if (!write_contents(out.get(), request, items, error) ||
        !check_written(out.get(), request, error)) {
      return false;
    }
    int made = platform::set_open_file_mode(out.get(), 0755);
    if (made != 0) {
      error = "cannot make " + partial.path() + " executable: " + std::strerror(made);
      return false;
    }
    if (out.close() != 0) {
      error = "cannot write the package: " + std::string(std::strerror(errno));
      return false;
    }
  }
  std::error_code failure = partial.move_to(request.output_path);
  if (failure) {
    error = "cannot rename " + partial.path() + " to " + request.output_path + ": " +
            failure.message();
    return false;
  }
  return true;
}
