#include "extract/archive_extraction.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/exit_status.hpp"
#include "console/messages.hpp"
#include "common/path_text.hpp"
#include "common/stdio_file.hpp"
#include "extract/entry_data.hpp"
#include "extract/entry_extraction.hpp"
#include "extract/entry_name_encoding.hpp"
#include "extract/entry_names.hpp"
#include "package/empty_archive.hpp"
#include "package/entry_rules.hpp"
#include "package/zip_end_record.hpp"
#include "platform/platform.hpp"

namespace {

// Closes the archive when the extraction leaves, however it leaves.
class OpenArchive {
 public:
  explicit OpenArchive(unzFile archive) : m_archive(archive) {}
  ~OpenArchive() { close(); }
  OpenArchive(const OpenArchive&) = delete;
  OpenArchive& operator=(const OpenArchive&) = delete;
  unzFile get() const { return m_archive; }
  void close() {
    if (m_archive != nullptr) {
      (void)unzClose(m_archive);
      m_archive = nullptr;
    }
  }

 private:
  unzFile m_archive;
};

struct FreeMemory {
  void operator()(void* memory) const { std::free(memory); }
};

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

// minizip's view of the open archive file. Every read names its position, so nothing depends on
// the file's own position, and the file is never opened again by name. minizip reads the
// directory and the local headers a field, often a byte, at a time: small reads are served from
// two windows of the file, each read in one piece, one following the directory and one the
// local headers.
struct ArchiveStream {
  static constexpr std::size_t k_window_size = 32 * 1024;
  struct Window {
    std::unique_ptr<char[]> bytes{new (std::nothrow) char[k_window_size]};
    std::uint64_t offset = 0;
    std::size_t length = 0;
    bool covers(std::uint64_t at, std::size_t size) const {
      return at >= offset && at + size <= offset + length;
    }
  };

  const platform::FileHandle* file = nullptr;
  std::uint64_t size = 0;
  std::uint64_t position = 0;
  bool failed = false;
  Window windows[2];
  // The window used last; a miss refills the other one.
  int last_used = 0;
};

ArchiveStream& stream_of(voidpf stream) { return *static_cast<ArchiveStream*>(stream); }

// Reads up to `size` bytes at `offset` from the file itself; returns how many came (fewer only at
// the end or after a failure, which is noted).
std::size_t read_file_at(ArchiveStream& stream, std::uint64_t offset, void* buffer,
                         std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    std::size_t count = 0;
    if (platform::read_file_at(*stream.file, offset + done, static_cast<char*>(buffer) + done,
                               size - done, count) != 0) {
      stream.failed = true;
      break;
    }
    if (count == 0) {
      break;
    }
    done += count;
  }
  return done;
}

// Reads up to `size` bytes at `offset`, through a window when they are few.
std::size_t read_stream_at(ArchiveStream& stream, std::uint64_t offset, void* buffer,
                           std::size_t size) {
  if (size >= ArchiveStream::k_window_size / 4 || stream.windows[0].bytes == nullptr ||
      stream.windows[1].bytes == nullptr) {
    return read_file_at(stream, offset, buffer, size);
  }
  int used = stream.windows[stream.last_used].covers(offset, size) ? stream.last_used
             : stream.windows[1 - stream.last_used].covers(offset, size)
                 ? 1 - stream.last_used
                 : -1;
  if (used < 0) {
    used = 1 - stream.last_used;
    ArchiveStream::Window& window = stream.windows[used];
    window.offset = offset;
    window.length = read_file_at(stream, offset, window.bytes.get(), ArchiveStream::k_window_size);
  }
  stream.last_used = used;
  const ArchiveStream::Window& window = stream.windows[used];
  // The file may end before `offset + size`.
  if (offset >= window.offset + window.length) {
    return 0;
  }
  std::size_t available = static_cast<std::size_t>(
      std::min<std::uint64_t>(size, window.offset + window.length - offset));
  std::memcpy(buffer, window.bytes.get() + (offset - window.offset), available);
  return available;
}

voidpf ZCALLBACK open_stream(voidpf opaque, const void*, int) { return opaque; }

uLong ZCALLBACK read_stream(voidpf, voidpf stream, void* buffer, uLong size) {
  ArchiveStream& archive = stream_of(stream);
  std::size_t count = read_stream_at(archive, archive.position, buffer, size);
  archive.position += count;
  return static_cast<uLong>(count);
}

uLong ZCALLBACK write_stream(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK tell_stream(voidpf, voidpf stream) { return stream_of(stream).position; }

long ZCALLBACK seek_stream(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  ArchiveStream& archive = stream_of(stream);
  // minizip passes backward moves as the two's complement of the distance; unsigned arithmetic
  // wraps them into place.
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
      archive.position = offset;
      return 0;
    case ZLIB_FILEFUNC_SEEK_CUR:
      archive.position += offset;
      return 0;
    case ZLIB_FILEFUNC_SEEK_END:
      archive.position = archive.size + offset;
      return 0;
    default:
      return -1;
  }
}

int ZCALLBACK close_stream(voidpf, voidpf) { return 0; }

int ZCALLBACK error_stream(voidpf, voidpf stream) { return stream_of(stream).failed ? 1 : 0; }

// The reader that the package format's checks take.
ArchiveReader reader_of(ArchiveStream& stream) {
  return [&stream](std::uint64_t offset, void* buffer, std::size_t size) {
    return read_stream_at(stream, offset, buffer, size) == size;
  };
}

// Opens `stream` as an archive. Returns true when it is one: `archive` holds its handle, or null
// for an archive without entries.
bool open_archive(ArchiveStream& stream, unzFile& archive) {
  zlib_filefunc64_def functions;
  functions.zopen64_file = open_stream;
  functions.zread_file = read_stream;
  functions.zwrite_file = write_stream;
  functions.ztell64_file = tell_stream;
  functions.zseek64_file = seek_stream;
  functions.zclose_file = close_stream;
  functions.zerror_file = error_stream;
  functions.opaque = &stream;
  archive = unzOpen2_64("", &functions);
  if (archive != nullptr) {
    return true;
  }
  // An archive without entries, which minizip cannot open, is extracted as what it is: nothing.
  return is_empty_archive(reader_of(stream), stream.size);
}

// Where the last component of `path` starts: just behind its last separator, or 0.
std::size_t last_component(const std::string& path) {
  std::size_t position = path.find_last_of("/\\");
  return position == std::string::npos ? 0 : position + 1;
}

// errno as it was left by the failed write or close.
void report_write_failure() {
  if (errno != 0) {
    print_plain("%s\n", std::strerror(errno));
  } else {
    print_plain("error in writing extracted file\n");
  }
}

// Gives the extracted `path` its permission bits. Returns 0, or k_entry_not_created after
// printing why.
int apply_mode(const std::string& path, const char* name, unsigned mode) {
  int error = platform::set_file_mode(path, mode);
  if (error != 0) {
    print_plain("error setting the permissions of %s: %s\n", name, std::strerror(error));
    return k_entry_not_created;
  }
  return 0;
}

// A directory entry: the directory and, unlike a bare mkdir, any missing parents, so that an
// entry met before its parent's entry is not lost. A name that exists as something else than a
// directory stops the extraction.
int extract_directory_entry(const std::string& path, const char* name, unsigned mode) {
  int error = platform::make_directory(path, platform::DirectoryAccess::Shared);
  if (error == ENOENT) {
    int made = make_directory_path(path);
    if (made < 0) {
      return made;
    }
  }
  platform::PathKind kind = platform::PathKind::Other;
  if (platform::query_path(path, kind) != 0 || kind != platform::PathKind::Directory) {
    print_plain("couldn't create directory %s\n", name);
    return k_entry_not_created;
  }
  return apply_mode(path, name, mode);
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

void set_file_time(const std::string& file_name, std::uint32_t dos_date_time) {
  platform::set_file_time(file_name, dos_date_time);
}

int make_directory_path(const std::string& path) {
  std::size_t length = path.size();
  if (length == 0) {
    return 0;
  }
  std::unique_ptr<char, FreeMemory> copy(static_cast<char*>(std::malloc(length + 1)));
  if (copy == nullptr) {
    print_plain("Error allocating memory\n");
    return k_entry_no_memory;
  }
  char* text = copy.get();
  std::memcpy(text, path.c_str(), length + 1);
  if (text[length - 1] == '/') {
    text[--length] = '\0';
  }
  if (platform::make_directory(text, platform::DirectoryAccess::Shared) == 0) {
    return 1;
  }
  // From the second character on, so that a leading separator never yields an empty name.
  char* p = text + 1;
  for (;;) {
    while (*p != '\0' && !is_separator(*p)) {
      ++p;
    }
    char separator = *p;
    *p = '\0';
    if (platform::make_directory(text, platform::DirectoryAccess::Shared) == ENOENT) {
      print_plain("couldn't create directory %s\n", text);
      return 0;
    }
    if (separator == '\0') {
      break;
    }
    *p++ = separator;
  }
  return 1;
}

int extract_current_entry(const ArchiveAccess& access, unsigned creation_mask,
                          EntryBuffers& buffers) {
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
  std::string decoded = stored_name;
  EntryNameVerdict verdict = check_entry_name(
      stored_name, static_cast<unsigned long>(info.size_filename), this_platform());
  if (verdict == EntryNameVerdict::Accepted) {
    decoded = decoded_entry_name(stored_name, static_cast<unsigned long>(info.flag),
                                 central_extra_field(archive, info),
                                 this_platform() == TargetPlatform::Windows
                                     ? LegacyNameRule::ConvertFromCp437
                                     : LegacyNameRule::KeepBytes);
    verdict = check_entry_name(decoded.c_str(), static_cast<unsigned long>(decoded.size()),
                               this_platform());
  }
  const char* name = decoded.c_str();
  // Names come from the archive: control characters in them are shown escaped, never sent to the
  // terminal as they are.
  std::string shown_name = printable_name(name);
  const char* shown = shown_name.c_str();
  if (verdict != EntryNameVerdict::Accepted) {
    print_plain("refusing entry %s: %s\n", shown, refusal_reason(verdict));
    return k_entry_refused;
  }

  std::string path = entry_path(name, this_platform());
  std::size_t last = last_component(path);
  unsigned long made_by = static_cast<unsigned long>(info.version);
  unsigned long attributes = static_cast<unsigned long>(info.external_fa);
  if (last == path.size()) {
    return extract_directory_entry(
        path, shown, entry_mode(made_by, attributes, EntryKind::Directory, creation_mask));
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
      print_plain("refusing entry %s: compression method %lu is not supported\n", shown, method);
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

  StdioFile file(platform::open_output_file(path));
  if (!file && last > 0) {
    // Allocation failure is reported there; the second open is tried anyway.
    (void)make_directory_path(path.substr(0, last - 1));
    file = StdioFile(platform::open_output_file(path));
  }
  if (!file) {
    // Printed always: a file that cannot be created leaves the payload incomplete.
    print_plain("error opening %s\n", shown);
    (void)unzCloseCurrentFile(archive);
    return k_entry_not_created;
  }

  EntryCopy copy = copy_entry_data(access.read, span, buffers, file.get());
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
      report_write_failure();
      result = k_entry_write_failed;
      break;
    case EntryCopyOutcome::Interrupted:
      result = k_entry_interrupted;
      break;
  }
  if (copy.outcome == EntryCopyOutcome::ReadFailed ||
      copy.outcome == EntryCopyOutcome::DamagedData || result == UNZ_CRCERROR) {
    print_plain("error %d with zipfile in unzReadCurrentFile\n", result);
  }
  if (result != 0) {
    (void)file.close();
    (void)unzCloseCurrentFile(archive);
    return result;
  }
  // Buffered data reaches the disk only here; a full disk shows up now. Time and mode are given
  // to the open file, after its last write.
  errno = 0;
  if (std::fflush(file.get()) != 0) {
    report_write_failure();
    (void)unzCloseCurrentFile(archive);
    return k_entry_write_failed;
  }
  platform::set_open_file_time(file.get(), dos_date_of(info, 0));
  int error = platform::set_open_file_mode(
      file.get(), entry_mode(made_by, attributes, EntryKind::File, creation_mask));
  if (error != 0) {
    print_plain("error setting the permissions of %s: %s\n", shown, std::strerror(error));
    (void)unzCloseCurrentFile(archive);
    return k_entry_not_created;
  }
  errno = 0;
  if (file.close() != 0) {
    report_write_failure();
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

int extract_all_entries(const ArchiveAccess& access, unsigned creation_mask) {
  unzFile archive = access.zip;
  EntryBuffers buffers;
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
    result = extract_current_entry(access, creation_mask, buffers);
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

namespace {

// Walks the central directory the way the extraction goes through it: as many entries as the end
// record counts for minizip. Notes where they stand in `walk` and adds up their uncompressed
// sizes in `total`, leaving the archive at its first entry. False when minizip cannot walk it; the
// extraction then finds out for itself.
bool walk_directory(unzFile archive, DirectoryWalk& walk, std::uint64_t& total) {
  walk = DirectoryWalk{};
  total = 0;
  unz_global_info64 global;
  std::memset(&global, 0, sizeof global);
  if (unzGetGlobalInfo64(archive, &global) != UNZ_OK) {
    return false;
  }
  for (ZPOS64_T i = 0; i < global.number_entry; ++i) {
    if ((i == 0 ? unzGoToFirstFile(archive) : unzGoToNextFile(archive)) != UNZ_OK) {
      return false;
    }
    unz_file_info64 info;
    std::memset(&info, 0, sizeof info);
    if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
      return false;
    }
    if (i == 0) {
      walk.first_offset = static_cast<std::uint64_t>(unzGetOffset64(archive));
    }
    ++walk.entries;
    walk.bytes += k_central_header_size + static_cast<std::uint64_t>(info.size_filename) +
                  static_cast<std::uint64_t>(info.size_file_extra) +
                  static_cast<std::uint64_t>(info.size_file_comment);
    total += static_cast<std::uint64_t>(info.uncompressed_size);
  }
  return unzGoToFirstFile(archive) == UNZ_OK;
}

// Whether the entries minizip walks fill the central directory that the end record describes.
// An end record that counts too few entries would leave the rest of the payload behind without a
// word. Prints the problem when they do not.
bool fills_directory(ArchiveStream& stream, const DirectoryWalk& walk) {
  ZipEndRecord record;
  DirectoryFill fill = read_zip_end_record(reader_of(stream), stream.size, record)
                           ? compare_directory_walk(record, walk)
                           : DirectoryFill::Mismatch;
  if (fill == DirectoryFill::Exact) {
    return true;
  }
  print_plain("%s\n", directory_fill_problem(fill));
  return false;
}

// From this many entries on, the extraction runs on two threads.
constexpr std::uint64_t k_parallel_entries = 16;
constexpr std::uint64_t k_no_failure = UINT64_MAX;

// What the two threads of a parallel extraction share. Entries are claimed one at a time in
// archive order; each thread walks the directory with a minizip handle and windows of its own over
// the one open archive file. The first entry in archive order that fails decides: its messages are
// printed, no entry after it is begun (one begun already may finish), and every entry before it
// is complete.
struct ParallelExtraction {
  const platform::FileHandle* file = nullptr;
  std::uint64_t size = 0;
  std::uint64_t count = 0;
  unsigned creation_mask = 0;
  std::atomic<std::uint64_t> next{0};
  std::atomic<std::uint64_t> extracted{0};
  std::atomic<std::uint64_t> first_failure{k_no_failure};
  std::atomic<bool> interrupted{false};
};

// The entry at which one thread stopped, and what it printed about it.
struct ThreadFailure {
  std::uint64_t index = k_no_failure;
  std::vector<HeldMessages::Line> messages;
};

// Extracts entries claimed from `shared` through `archive`, which reads `stream`, until none is
// left, one fails (noted in `failure`), or the process is asked to end.
void extract_claimed_entries(ParallelExtraction& shared, ArchiveStream& stream, unzFile archive,
                             ThreadFailure& failure) {
  EntryBuffers buffers;
  if (!buffers.allocated() || unzGoToFirstFile(archive) != UNZ_OK) {
    return;
  }
  ArchiveAccess access{archive, reader_of(stream)};
  std::uint64_t at = 0;
  int signal_number = 0;
  for (;;) {
    std::uint64_t index = shared.next.fetch_add(1);
    if (index >= shared.count || index > shared.first_failure.load() || shared.interrupted) {
      return;
    }
    HeldMessages held;
    int result = UNZ_OK;
    while (at < index && result == UNZ_OK) {
      result = unzGoToNextFile(archive);
      ++at;
    }
    if (result != UNZ_OK) {
      print_plain("error %d with zipfile in unzGoToNextFile\n", result);
    } else if (platform::termination_requested(signal_number)) {
      result = k_entry_interrupted;
    } else {
      result = extract_current_entry(access, shared.creation_mask, buffers);
    }
    if (result == k_entry_interrupted) {
      shared.interrupted = true;
      return;
    }
    if (result != 0) {
      failure.index = index;
      failure.messages = held.take();
      std::uint64_t first = shared.first_failure.load();
      while (index < first && !shared.first_failure.compare_exchange_weak(first, index)) {
      }
      return;
    }
    ++shared.extracted;
  }
}

// The second thread, with a minizip handle of its own over the same file.
struct SecondThread {
  ParallelExtraction* shared;
  ThreadFailure failure;
};

void extract_on_second_thread(void* opaque) {
  SecondThread& thread = *static_cast<SecondThread*>(opaque);
  ArchiveStream stream;
  stream.file = thread.shared->file;
  stream.size = thread.shared->size;
  unzFile handle = nullptr;
  if (open_archive(stream, handle) && handle != nullptr) {
    OpenArchive archive(handle);
    extract_claimed_entries(*thread.shared, stream, archive.get(), thread.failure);
  }
}

// Extracts the `count` entries of `archive`, which reads `stream`, on this thread and a second
// one (this one alone when no second can start). Returns as extract_all_entries does.
int extract_in_parallel(ArchiveStream& stream, unzFile archive, std::uint64_t count,
                        unsigned creation_mask) {
  ParallelExtraction shared;
  shared.file = stream.file;
  shared.size = stream.size;
  shared.count = count;
  shared.creation_mask = creation_mask;
  SecondThread other{&shared, {}};
  std::uintptr_t second = 0;
  bool started = platform::start_thread(extract_on_second_thread, &other, second) == 0;
  ThreadFailure own;
  extract_claimed_entries(shared, stream, archive, own);
  if (started) {
    platform::join_thread(second);
  }
  if (shared.interrupted) {
    return k_extract_interrupted;
  }
  if (own.index != k_no_failure || other.failure.index != k_no_failure) {
    HeldMessages::write(own.index < other.failure.index ? own.messages : other.failure.messages);
    return k_extract_incomplete;
  }
  if (shared.extracted != count) {
    // Neither thread found the memory to start with.
    print_plain("Error allocating memory\n");
    return k_extract_incomplete;
  }
  return k_extract_ok;
}

// Whether `needed` bytes fit where the archive unpacks to. Filling the disk half-way would leave a
// broken payload and a full disk; a clear refusal up front leaves neither.
bool fits(std::uint64_t needed, const std::string& target_dir) {
  constexpr std::uint64_t k_megabyte = 1024 * 1024;
  platform::FileSystemInfo info;
  if (platform::file_system_info(target_dir, info) != 0 || needed <= info.free_bytes) {
    return true;
  }
  std::uint64_t available = info.free_bytes;
  print_error("Not enough space in %s: %llu MB needed, %llu MB free\n", target_dir.c_str(),
              static_cast<unsigned long long>((needed + k_megabyte - 1) / k_megabyte),
              static_cast<unsigned long long>(available / k_megabyte));
  return false;
}

}  // namespace

int extract_archive(const platform::FileHandle& archive_file, const std::string& target_dir) {
  if (!archive_file.is_open()) {
    return k_extract_not_an_archive;
  }
  ArchiveStream stream;
  stream.file = &archive_file;
  if (platform::file_size(archive_file, stream.size) != 0) {
    return k_extract_not_an_archive;
  }
  unzFile handle = nullptr;
  if (!open_archive(stream, handle)) {
    return k_extract_not_an_archive;
  }
  OpenArchive archive(handle);

  if (platform::set_current_directory(target_dir) != 0) {
    print_plain("Error changing into %s, aborting\n", target_dir.c_str());
    archive.close();
    exit_now(k_exit_abort);
  }
  if (archive.get() == nullptr) {
    return k_extract_ok;
  }
  DirectoryWalk walk;
  std::uint64_t needed = 0;
  if (walk_directory(archive.get(), walk, needed)) {
    if (!fills_directory(stream, walk)) {
      return k_extract_incomplete;
    }
    if (!fits(needed, target_dir)) {
      return k_extract_no_space;
    }
    if (walk.entries >= k_parallel_entries) {
      return extract_in_parallel(stream, archive.get(), walk.entries,
                                 platform::file_creation_mask());
    }
  }
  return extract_all_entries(ArchiveAccess{archive.get(), reader_of(stream)},
                             platform::file_creation_mask());
}
