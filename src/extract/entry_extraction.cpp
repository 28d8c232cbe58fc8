// SPDX-License-Identifier: Zlib
#include "extract/entry_extraction.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

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

// Gives the extracted directory `path` its permission bits. Returns 0, or k_entry_not_created
// after printing why.
int apply_mode(EntrySink& sink, const std::string& path, const char* name, unsigned mode) {
  int error = sink.set_directory_mode(path, mode);
  if (error != 0) {
    print_plain("error setting the permissions of %s: %s\n", name, std::strerror(error));
    return k_entry_not_created;
  }
  return 0;
}

// A directory entry: the directory and, unlike a bare mkdir, any missing parents, so that an
// entry met before its parent's entry is not lost. A name that exists as something else than a
// directory stops the extraction.
int extract_directory_entry(EntrySink& sink, const std::string& path, const char* name,
                            unsigned mode) {
  int error = sink.make_directory(path);
  if (error == ENOENT) {
    int made = sink.make_directory_path(path);
    if (made < 0) {
      return made;
    }
  }
  platform::PathKind kind = platform::PathKind::Other;
  if (sink.query_path(path, kind) != 0 || kind != platform::PathKind::Directory) {
    print_plain("couldn't create directory %s\n", name);
    return k_entry_not_created;
  }
  return apply_mode(sink, path, name, mode);
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

std::string written_entry_name(unzFile archive, const unz_file_info64& info,
                               const char* stored_name, TargetPlatform target) {
  return written_entry_name(stored_name, static_cast<unsigned long>(info.flag),
                            central_extra_field(archive, info), target);
}

int extract_current_entry(const ArchiveAccess& access, unsigned creation_mask,
                          EntryBuffers& buffers, EntrySink& sink, const EntryStop& stop) {
  unzFile archive = access.zip;
  // One zeroed byte beyond what minizip may fill: a name that fills the buffer comes back
  // without its NUL.
  char stored_name[k_entry_name_limit + 1];
  std::memset(stored_name, 0, sizeof stored_name);
  unz_file_info64 info;
  std::memset(&info, 0, sizeof info);
  int result =
      unzGetCurrentFileInfo64(archive, &info, stored_name,
                              static_cast<unsigned>(k_entry_name_limit), nullptr, 0, nullptr, 0);
  if (result != UNZ_OK) {
    print_plain("error %d with zipfile in unzGetCurrentFileInfo\n", result);
    return result;
  }
  // The stored name must fit and be whole; the name written, in UTF-8 where the archive tells
  // its character set, must pass the checks itself.
  std::string decoded;
  EntryNameVerdict verdict =
      check_entry_names(stored_name, static_cast<unsigned long>(info.size_filename),
                        static_cast<unsigned long>(info.flag), central_extra_field(archive, info),
                        access.target, decoded);
  const char* name = decoded.c_str();
  // Names come from the archive: control characters in them are shown escaped, never sent to the
  // terminal as they are.
  std::string shown_name = printable_name(name);
  const char* shown = shown_name.c_str();
  if (verdict != EntryNameVerdict::Accepted) {
    print_plain("refusing entry %s: %s\n", shown, refusal_reason(verdict));
    return k_entry_refused;
  }

  std::string path = entry_path(name, access.target);
  std::size_t last = last_component(path);
  unsigned long made_by = static_cast<unsigned long>(info.version);
  unsigned long attributes = static_cast<unsigned long>(info.external_fa);
  if (last == path.size()) {
    return extract_directory_entry(
        sink, path, shown, entry_mode(made_by, attributes, EntryKind::Directory, creation_mask));
  }

  // Without a password minizip hands out encrypted bytes as they are, and data of a method it
  // cannot inflate (bzip2 in a build without it, LZMA, ...) still compressed, with no CRC check
  // at the end: such entries are refused instead of written as garbage.
  unsigned long method = static_cast<unsigned long>(info.compression_method);
  switch (check_entry_data(static_cast<unsigned long>(info.flag), method)) {
    case EntryDataVerdict::Accepted:
      break;
    case EntryDataVerdict::Encrypted:
      print_plain("refusing entry %s: the entry is encrypted\n", shown);
      return k_entry_refused;
    case EntryDataVerdict::UnsupportedMethod:
      print_plain("refusing entry %s: %s\n", shown, unsupported_method_reason(method).c_str());
      return k_entry_refused;
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

  // An entry that may be stopped half-way is removed then, if it made its file: whatever was
  // there before it is not this entry's to remove.
  platform::PathKind found = platform::PathKind::Other;
  bool creates_file = stop.can_stop() && sink.query_path(path, found) == ENOENT;
  int opened = sink.open_file(path);
  if (opened != 0 && last > 0) {
    // Allocation failure is reported there; the second open is tried anyway.
    (void)sink.make_directory_path(path.substr(0, last - 1));
    opened = sink.open_file(path);
  }
  if (opened != 0) {
    // Printed always: a file that cannot be created leaves the payload incomplete.
    print_plain("error opening %s\n", shown);
    (void)unzCloseCurrentFile(archive);
    return k_entry_not_created;
  }

  EntryCopy copy = copy_entry_data(access.read, span, buffers, sink, stop);
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
  if (result != 0) {
    (void)sink.close_file();
    if (result == k_entry_stopped && creates_file) {
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
  error = sink.set_file_mode(entry_mode(made_by, attributes, EntryKind::File, creation_mask));
  if (error != 0) {
    print_plain("error setting the permissions of %s: %s\n", shown, std::strerror(error));
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

  result = unzCloseCurrentFile(archive);
  if (result == UNZ_OK && copy.crc != static_cast<std::uint32_t>(info.crc)) {
    result = UNZ_CRCERROR;
  }
  if (result != UNZ_OK) {
    print_plain("error %d with zipfile in unzCloseCurrentFile\n", result);
  }
  return result;
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
