// SPDX-License-Identifier: Zlib
#include "extract/entry_extraction.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "console/messages.hpp"
#include "extract/entry_data.hpp"
#include "extract/entry_name_encoding.hpp"
#include "extract/entry_names.hpp"
#include "package/entry_rules.hpp"
#include "platform/platform.hpp"

namespace {

// minizip's file-information record calls the DOS date `dosDate`; minizip-ng's compatibility
// record calls it `dos_date`. Whichever this build has is taken.
template <typename Info>
auto dos_date_of(const Info& info, int) -> decltype(info.dosDate, std::uint32_t()) {
  return static_cast<std::uint32_t>(info.dosDate);
}
template <typename Info>
std::uint32_t dos_date_of(const Info& info, long) {
  return static_cast<std::uint32_t>(info.dos_date);
}

// Where the last component of `path` starts: just behind its last separator, or 0.
std::size_t last_component(const std::string& path) {
  std::size_t position = path.find_last_of("/\\");
  return position == std::string::npos ? 0 : position + 1;
}

// `error`, what the sink's failed write, flush or close returned.
void report_write_failure(int error) {
  if (error > 0) {
    print_plain("%s\n", std::strerror(error));
  } else {
    print_plain("error in writing extracted file\n");
  }
}

// Refuses the entry `name` for `reason`. Names come from the archive: every message shows them
// with their control characters escaped, never sent to the terminal as they are.
int refuse_entry(const char* name, const char* reason) {
  print_plain("refusing entry %s: %s\n", printable_name(name).c_str(), reason);
  return k_entry_refused;
}

// What creating the file, folder or link of the entry `name` came to, the sink's `error`: 0 when
// it was made. A symbolic link on its way (an earlier link entry's, or one found on the disk)
// refuses the entry: nothing is ever written through a link. Any other failure prints `failure`
// with the name and gives k_entry_not_created.
int creation_result(int error, const char* name, const char* failure) {
  if (error == 0) {
    return 0;
  }
  if (error == ELOOP) {
    return refuse_entry(name, "the path runs through a symbolic link");
  }
  print_plain(failure, printable_name(name).c_str());
  return k_entry_not_created;
}

// The folder that holds `path`'s last component: `path` without it and the separator before it
// (trailing separators aside); empty when it lies in the extraction directory itself.
std::string parent_folder(const std::string& path) {
  std::size_t end = path.find_last_not_of("/\\");
  std::size_t separator = end == std::string::npos ? end : path.find_last_of("/\\", end);
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

// What an entry makes at its path.
enum class Made { Directory, File, Link };

// Makes at `path` the folder with the bits `mode`, the output file that is to get the bits `mode`,
// or the link to `target`, as `made` says, and, when that fails for another reason than an
// existing name or a link on the way, the folder it goes into with missing parents, each with
// `folder_mode`, and then tries once more. Returns what the sink returned last; `created`, when
// given, tells for a file whether it was made rather than found.
int make_with_folders(EntrySink& sink, Made made, const std::string& path, unsigned mode,
                      unsigned folder_mode, const std::string& target = std::string(),
                      bool* created = nullptr) {
  bool unasked = false;
  bool& file_created = created != nullptr ? *created : unasked;
  for (int attempt = 0;; ++attempt) {
    int error = made == Made::Directory ? sink.make_directory(path, mode)
                : made == Made::File    ? sink.open_file(path, mode, file_created)
                                        : sink.make_link(path, target);
    if (attempt > 0 || error == 0 || error == ELOOP || error == EEXIST) {
      return error;
    }
    std::string parent = parent_folder(path);
    if (parent.empty()) {
      return error;
    }
    // Allocation failure is reported there; the second attempt is made anyway.
    (void)sink.make_directory_path(parent, folder_mode);
  }
}

// A directory entry: the directory with the entry's bits `mode`, given as it is made, and, unlike
// a bare mkdir, any missing parents (with `folder_mode`), so that an entry met before its parent's
// entry is not lost. An existing directory gets `mode`; a name that exists as something else than
// a directory stops the extraction.
int extract_directory_entry(EntrySink& sink, const std::string& path, const char* name,
                            unsigned mode, unsigned folder_mode) {
  int error = make_with_folders(sink, Made::Directory, path, mode, folder_mode);
  if (error == EEXIST) {
    error = sink.set_directory_mode(path, mode);
    if (error != 0 && error != ENOTDIR && error != ELOOP && error != ENOENT) {
      print_plain("error setting the permissions of %s: %s\n", printable_name(name).c_str(),
                  std::strerror(error));
      return k_entry_not_created;
    }
  }
  return creation_result(error, name, "couldn't create directory %s\n");
}

// Collects an entry's data: a link's target, which is written nowhere else.
class TextSink final : public NullSink {
 public:
  int write(const void* data, std::size_t size) override {
    text.append(static_cast<const char*>(data), size);
    return 0;
  }
  std::string text;
};

// What copying an entry's data came to, as extract_current_entry returns it: 0 when it is all
// there. Damaged data gets minizip's line; a failed write the system's reason.
int copy_result(const EntryCopy& copy, const EntryDataSpan& span) {
  int result = 0;
  switch (copy.outcome) {
    case EntryCopyOutcome::Ended:
      // The CRC is checked only for the whole size: data that ends early (a damaged deflate
      // stream) would otherwise pass as complete.
      result = copy.written == span.size ? 0 : UNZ_CRCERROR;
      break;
    case EntryCopyOutcome::ReadFailed:
      result = UNZ_ERRNO;
      break;
    case EntryCopyOutcome::DamagedData:
      result = Z_DATA_ERROR;
      break;
    case EntryCopyOutcome::WriteFailed:
      report_write_failure(copy.write_error);
      result = k_entry_write_failed;
      break;
    case EntryCopyOutcome::Interrupted:
      result = k_entry_interrupted;
      break;
    case EntryCopyOutcome::Stopped:
      result = k_entry_stopped;
      break;
  }
  if (copy.outcome == EntryCopyOutcome::ReadFailed ||
      copy.outcome == EntryCopyOutcome::DamagedData || result == UNZ_CRCERROR) {
    print_plain("error %d with zipfile in unzReadCurrentFile\n", result);
  }
  return result;
}

// Ends reading the entry's data, whose CRC-32 came to `crc`, against the one `info` records.
// Returns 0, or minizip's code after printing it.
int close_entry_data(unzFile archive, const unz_file_info64& info, std::uint32_t crc) {
  int result = unzCloseCurrentFile(archive);
  if (result == UNZ_OK && crc != static_cast<std::uint32_t>(info.crc)) {
    result = UNZ_CRCERROR;
  }
  if (result != UNZ_OK) {
    print_plain("error %d with zipfile in unzCloseCurrentFile\n", result);
  }
  return result;
}

// Reads the data of the entry `archive` stands at, open raw and lying where `span` says (fewer
// than k_link_target_limit bytes), into `text`: a link's target. Closes the entry's data. Returns
// 0, or the code that stops the extraction after printing why.
int read_entry_text(const ArchiveAccess& access, const unz_file_info64& info,
                    const EntryDataSpan& span, EntryBuffers& buffers, std::string& text,
                    const EntryStop& stop) {
  TextSink sink;
  EntryCopy copy = copy_entry_data(access.read, span, buffers, sink, stop);
  int result = copy_result(copy, span);
  if (result != 0) {
    (void)unzCloseCurrentFile(access.zip);
    return result;
  }
  text = std::move(sink.text);
  return close_entry_data(access.zip, info, copy.crc);
}

// A link entry, whose data `text` is its target: a symbolic link where the target stays inside
// the extraction directory, a refusal otherwise.
int extract_link_entry(EntrySink& sink, const std::string& path, const char* name,
                       const std::string& text, unsigned folder_mode) {
  LinkTargetVerdict verdict = check_link_target(path, text);
  if (verdict != LinkTargetVerdict::Accepted) {
    return refuse_entry(name, link_refusal_reason(verdict));
  }
  int error = make_with_folders(sink, Made::Link, path, 0, folder_mode, text);
  return creation_result(error, name, "error opening %s\n");
}

// The central extra field of the entry `archive` stands at, described by `info`, where it may
// tell the name's character set: for a name not marked as UTF-8. Empty otherwise, when the entry
// has none, or when it cannot be read.
std::string central_extra_field(unzFile archive, const unz_file_info64& info) {
  if ((info.flag & k_entry_flag_utf8) != 0) {
    return std::string();
  }
  std::string extra(static_cast<std::size_t>(info.size_file_extra), '\0');
  unz_file_info64 again;
  if (extra.empty() ||
      unzGetCurrentFileInfo64(archive, &again, nullptr, 0, &extra[0],
                              static_cast<uLong>(extra.size()), nullptr, 0) != UNZ_OK) {
    return std::string();
  }
  return extra;
}

}  // namespace

std::string link_target_of(const ArchiveAccess& access, const unz_file_info64& info) {
  std::string target;
  EntryBuffers buffers;
  HeldMessages silenced;
  if (!buffers.allocated() || info.uncompressed_size >= k_link_target_limit ||
      unzOpenCurrentFile2(access.zip, nullptr, nullptr, 1) != UNZ_OK) {
    return std::string();
  }
  EntryDataSpan span;
  span.offset = static_cast<std::uint64_t>(unzGetCurrentFileZStreamPos64(access.zip));
  span.stored_size = static_cast<std::uint64_t>(info.compressed_size);
  span.size = static_cast<std::uint64_t>(info.uncompressed_size);
  span.deflated = info.compression_method == Z_DEFLATED;
  return read_entry_text(access, info, span, buffers, target, EntryStop{}) == 0 ? target
                                                                                : std::string();
}

int read_entry_header(unzFile archive, unz_file_info64& info, char* name, uLong name_size,
                      char* extra_room, std::string& extra) {
  std::memset(&info, 0, sizeof info);
  int result = unzGetCurrentFileInfo64(archive, &info, name, name_size, extra_room,
                                       static_cast<uLong>(k_extra_field_room), nullptr, 0);
  if (result == UNZ_OK) {
    extra = (info.flag & k_entry_flag_utf8) != 0
                ? std::string()
                : std::string(extra_room, static_cast<std::size_t>(info.size_file_extra));
    return result;
  }
  // An extra field that cannot be read fails the whole read: the record and the name are read
  // again without it, and the field, read on its own, counts as empty when it fails again.
  std::memset(&info, 0, sizeof info);
  result = unzGetCurrentFileInfo64(archive, &info, name, name_size, nullptr, 0, nullptr, 0);
  extra = result == UNZ_OK ? central_extra_field(archive, info) : std::string();
  return result;
}

int extract_current_entry(const ArchiveAccess& access, unsigned creation_mask,
                          EntryBuffers& buffers, EntrySink& sink, const EntryStop& stop) {
  unzFile archive = access.zip;
  // One zeroed byte beyond what minizip may fill: a name that fills the buffer comes back
  // without its NUL.
  char stored_name[k_entry_name_limit + 1];
  std::memset(stored_name, 0, sizeof stored_name);
  unz_file_info64 info;
  std::string extra;
  int result = read_entry_header(archive, info, stored_name, static_cast<uLong>(k_entry_name_limit),
                                 buffers.extra_room(), extra);
  if (result != UNZ_OK) {
    print_plain("error %d with zipfile in unzGetCurrentFileInfo\n", result);
    return result;
  }
  // The stored name must fit and be whole; the name written, in UTF-8 where the archive tells
  // its character set, must pass the checks itself.
  std::string decoded;
  EntryNameVerdict verdict =
      check_entry_names(stored_name, static_cast<unsigned long>(info.size_filename),
                        static_cast<unsigned long>(info.flag), extra, access.target, decoded);
  const char* name = decoded.c_str();
  if (verdict != EntryNameVerdict::Accepted) {
    return refuse_entry(name, refusal_reason(verdict));
  }

  std::string path = entry_path(name, access.target);
  std::size_t last = last_component(path);
  unsigned long made_by = static_cast<unsigned long>(info.version);
  unsigned long attributes = static_cast<unsigned long>(info.external_fa);
  // The folders an entry needs that the archive does not hold: the bits of a folder made elsewhere.
  unsigned folder_mode = entry_mode(0, 0, EntryKind::Directory, creation_mask);
  if (last == path.size()) {
    return extract_directory_entry(
        sink, path, name, entry_mode(made_by, attributes, EntryKind::Directory, creation_mask),
        folder_mode);
  }

  // Without a password minizip hands out encrypted bytes as they are, and data of a method it
  // cannot inflate (bzip2 in a build without it, LZMA, ...) still compressed, with no CRC check
  // at the end: such entries are refused instead of written as garbage.
  unsigned long method = static_cast<unsigned long>(info.compression_method);
  switch (check_entry_data(static_cast<unsigned long>(info.flag), method)) {
    case EntryDataVerdict::Accepted:
      break;
    case EntryDataVerdict::Encrypted:
      return refuse_entry(name, "the entry is encrypted");
    case EntryDataVerdict::UnsupportedMethod:
      return refuse_entry(name, unsupported_method_reason(method).c_str());
  }
  // Windows writes a link entry as a file holding its target.
  bool link = access.target == TargetPlatform::Linux && is_symbolic_link(made_by, attributes);
  if (link && info.uncompressed_size >= k_link_target_limit) {
    return refuse_entry(name, link_refusal_reason(LinkTargetVerdict::TooLong));
  }

  // minizip checks the entry's local header; the data itself is read here, raw.
  result = unzOpenCurrentFile2(archive, nullptr, nullptr, 1);
  if (result != UNZ_OK) {
    print_plain("error %d with zipfile in unzOpenCurrentFilePassword\n", result);
    (void)unzCloseCurrentFile(archive);
    return result;
  }
  EntryDataSpan span;
  span.offset = static_cast<std::uint64_t>(unzGetCurrentFileZStreamPos64(archive));
  span.stored_size = static_cast<std::uint64_t>(info.compressed_size);
  span.size = static_cast<std::uint64_t>(info.uncompressed_size);
  span.deflated = method == Z_DEFLATED;
  if (link) {
    std::string target;
    result = read_entry_text(access, info, span, buffers, target, stop);
    return result != 0 ? result : extract_link_entry(sink, path, name, target, folder_mode);
  }

  // An entry that may be stopped half-way is removed then, if it made its file: whatever was
  // there before it is not this entry's to remove.
  bool created = false;
  unsigned mode = entry_mode(made_by, attributes, EntryKind::File, creation_mask);
  int opened =
      make_with_folders(sink, Made::File, path, mode, folder_mode, std::string(), &created);
  if (opened != 0) {
    (void)unzCloseCurrentFile(archive);
    // Printed always: a file that cannot be created leaves the payload incomplete.
    return creation_result(opened, name, "error opening %s\n");
  }

  EntryCopy copy = copy_entry_data(access.read, span, buffers, sink, stop);
  result = copy_result(copy, span);
  if (result != 0) {
    (void)sink.close_file();
    if (result == k_entry_stopped && created) {
      (void)sink.remove_file(path);
    }
    (void)unzCloseCurrentFile(archive);
    return result;
  }
  // Buffered data reaches the disk only here; a full disk shows up now. Time and mode are given
  // to the open file, after its last write.
  int error = sink.flush();
  if (error != 0) {
    report_write_failure(error);
    (void)sink.close_file();
    (void)unzCloseCurrentFile(archive);
    return k_entry_write_failed;
  }
  sink.set_file_time(dos_date_of(info, 0));
  error = sink.set_file_mode(mode);
  if (error != 0) {
    print_plain("error setting the permissions of %s: %s\n", printable_name(name).c_str(),
                std::strerror(error));
    (void)sink.close_file();
    (void)unzCloseCurrentFile(archive);
    return k_entry_not_created;
  }
  error = sink.close_file();
  if (error != 0) {
    report_write_failure(error);
    (void)unzCloseCurrentFile(archive);
    return k_entry_write_failed;
  }
  return close_entry_data(archive, info, copy.crc);
}

int extract_all_entries(const ArchiveAccess& access, unsigned creation_mask, EntrySink& sink,
                        std::uint64_t ring_entry_size) {
  unzFile archive = access.zip;
  EntryBuffers buffers(ring_entry_size);
  if (!buffers.allocated()) {
    print_plain("Error allocating memory\n");
    return k_extract_incomplete;
  }
  unz_global_info64 global;
  std::memset(&global, 0, sizeof global);
  bool complete = true;
  int result = unzGetGlobalInfo64(archive, &global);
  if (result != UNZ_OK) {
    print_plain("error %d with zipfile in unzGetGlobalInfo \n", result);
    complete = false;
  }
  int signal_number = 0;
  for (ZPOS64_T i = 0; i < global.number_entry;) {
    if (platform::termination_requested(signal_number)) {
      return k_extract_interrupted;
    }
    result = extract_current_entry(access, creation_mask, buffers, sink);
    if (result == k_entry_interrupted) {
      return k_extract_interrupted;
    }
    if (result != 0) {
      complete = false;
      break;
    }
    ++i;
    if (i < global.number_entry) {
      result = unzGoToNextFile(archive);
      if (result != UNZ_OK) {
        print_plain("error %d with zipfile in unzGoToNextFile\n", result);
        complete = false;
        break;
      }
    }
  }
  return complete ? k_extract_ok : k_extract_incomplete;
}
