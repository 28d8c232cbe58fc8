// SPDX-License-Identifier: Zlib
// Files and folders of the POSIX platform layer.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.hpp"
#include "platform/posix_internal.hpp"

#include "common/dos_time.hpp"

namespace platform {

namespace {

int remove_below(int parent_fd, const char* name);

// Removes every entry of the open directory `dir_fd` but `kept_name` (none when null). Returns the
// first errno value met, or 0.
int remove_entries(int dir_fd, const char* kept_name) {
  int dup_fd = dup(dir_fd);
  if (dup_fd < 0) {
    return errno;
  }
  DIR* dir = fdopendir(dup_fd);
  if (dir == nullptr) {
    int error = errno;
    close(dup_fd);
    return error;
  }
  // Names and types are gathered first: the directory changes while its entries go. An entry
  // that the directory says is no directory is unlinked at once, without a stat.
  std::vector<std::pair<std::string, unsigned char>> entries;
  while (dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0 &&
        (kept_name == nullptr || std::strcmp(entry->d_name, kept_name) != 0)) {
      entries.emplace_back(entry->d_name, entry->d_type);
    }
  }
  closedir(dir);
  int first_error = 0;
  for (const auto& [name, type] : entries) {
    int error = type != DT_DIR && type != DT_UNKNOWN && unlinkat(dir_fd, name.c_str(), 0) == 0
                    ? 0
                    : remove_below(dir_fd, name.c_str());
    if (first_error == 0) {
      first_error = error;
    }
  }
  return first_error;
}

// Removes `name` in `parent_fd` with everything below it; a symbolic link is removed itself.
int remove_below(int parent_fd, const char* name) {
  struct stat info {};
  if (fstatat(parent_fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno;
  }
  if (!S_ISDIR(info.st_mode)) {
    return unlinkat(parent_fd, name, 0) == 0 ? 0 : errno;
  }
  // A directory that denies us reading, writing or entering would keep its entries, and one
  // that denies reading cannot even be opened: its owner gets rwx first. glibc changes the mode
  // without following a link (through /proc); where that is not possible, a directory that can
  // be opened still gets rwx through its descriptor.
  bool opened_up = (info.st_mode & S_IRWXU) == S_IRWXU ||
                   fchmodat(parent_fd, name, (info.st_mode & 07777) | S_IRWXU,
                            AT_SYMLINK_NOFOLLOW) == 0;
  FileHandle directory(openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  int first_error = 0;
  if (!directory.is_open()) {
    first_error = errno;
  } else {
    if (!opened_up) {
      fchmod(descriptor_of(directory), (info.st_mode & 07777) | S_IRWXU);
    }
    first_error = remove_entries(descriptor_of(directory), nullptr);
    (void)directory.close();
  }
  if (unlinkat(parent_fd, name, AT_REMOVEDIR) != 0 && first_error == 0) {
    first_error = errno;
  }
  return first_error;
}

}  // namespace

int make_directory(const std::string& path, DirectoryAccess access) {
  mode_t mode = access == DirectoryAccess::Private ? 0700 : 0777;
  return mkdir(path.c_str(), mode) == 0 ? 0 : errno;
}

std::FILE* open_output_file(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file != nullptr) {
    std::setvbuf(file, nullptr, _IONBF, 0);
  }
  return file;
}

int FileHandle::close_native(std::intptr_t native) {
  // Linux releases the descriptor even when close reports an error; it is never retried.
  return ::close(static_cast<int>(native)) == 0 ? 0 : errno;
}

int create_exclusive_file(const std::string& path, FileHandle& file) {
  int descriptor =
      open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (descriptor < 0) {
    return errno;
  }
  file.reset(descriptor);
  return 0;
}

int open_file_for_reading(const std::string& path, FileHandle& file) {
  int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    return errno;
  }
  file.reset(descriptor);
  return 0;
}

int read_file_at(const FileHandle& file, std::uint64_t offset, void* buffer, std::size_t size,
                 std::size_t& read) {
  read = 0;
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) {
    return EINVAL;
  }
  ssize_t count = 0;
  do {
    count = pread(static_cast<int>(file.native()), buffer, size, static_cast<off_t>(offset));
  } while (count < 0 && errno == EINTR);
  if (count < 0) {
    return errno;
  }
  read = static_cast<std::size_t>(count);
  return 0;
}

int write_file(const FileHandle& file, const void* data, std::size_t size, std::size_t& written) {
  written = 0;
  ssize_t count = 0;
  do {
    count = write(static_cast<int>(file.native()), data, size);
  } while (count < 0 && errno == EINTR);
  if (count < 0) {
    return errno;
  }
  written = static_cast<std::size_t>(count);
  return 0;
}

int copy_between_files(std::FILE* from, std::uint64_t offset, const FileHandle& to,
                       std::size_t size, std::size_t& copied) {
  copied = 0;
#if defined(__linux__)
  loff_t from_offset = static_cast<loff_t>(offset);
  ssize_t count = 0;
  do {
    count = copy_file_range(fileno(from), &from_offset, static_cast<int>(to.native()), nullptr,
                            size, 0);
  } while (count < 0 && errno == EINTR);
  if (count < 0) {
    return errno;
  }
  copied = static_cast<std::size_t>(count);
  return 0;
#else
  (void)from;
  (void)offset;
  (void)to;
  (void)size;
  return ENOSYS;
#endif
}

int file_size(const FileHandle& file, std::uint64_t& size) {
  struct stat info {};
  if (fstat(static_cast<int>(file.native()), &info) != 0) {
    return errno;
  }
  size = static_cast<std::uint64_t>(info.st_size);
  return 0;
}

int query_path(const std::string& path, PathKind& kind) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    return errno;
  }
  kind = S_ISDIR(info.st_mode) ? PathKind::Directory : PathKind::Other;
  return 0;
}

int remove_file(const std::string& path) { return unlink(path.c_str()) == 0 ? 0 : errno; }

int remove_tree(const std::string& path) {
  if (path.empty()) {
    return ENOENT;
  }
  return remove_below(AT_FDCWD, path.c_str());
}

int remove_tree_contents(const std::string& path, const std::string& kept_name) {
  FileHandle dir(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.is_open()) {
    return errno;
  }
  return remove_entries(descriptor_of(dir), kept_name.c_str());
}

int remove_directory(const std::string& path) { return rmdir(path.c_str()) == 0 ? 0 : errno; }

int query_own_directory(const std::string& path, bool& own) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    return errno;
  }
  own = S_ISDIR(info.st_mode) && info.st_uid == geteuid();
  return 0;
}

int lock_file(const std::string& path, std::intptr_t& handle) {
  // Close-on-exec: the stub holds the lock itself until its ending has removed the directory, so
  // the command needs no copy, and a copy left in a process that outlives the run would only be
  // a descriptor leaked into it.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC,
                0600);
  if (fd < 0) {
    return errno;
  }
  struct stat info {};
  int error = 0;
  if (fstat(fd, &info) != 0) {
    error = errno;
  } else if (!S_ISREG(info.st_mode)) {
    error = EINVAL;
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno == EAGAIN ? EWOULDBLOCK : errno;
  }
  if (error != 0) {
    close(fd);
    return error;
  }
  handle = fd;
  return 0;
}

void unlock_file(std::intptr_t handle) {
  // Closing the last descriptor of the open file releases its flock.
  close(static_cast<int>(handle));
}

unsigned file_creation_mask() {
  // The mask can only be read by setting it; it is put back at once.
  mode_t mask = umask(077);
  umask(mask);
  return static_cast<unsigned>(mask);
}

int seek_file(std::FILE* file, std::int64_t offset, int origin) {
  return fseeko(file, static_cast<off_t>(offset), origin) == 0 ? 0 : errno;
}

std::int64_t tell_file(std::FILE* file) { return static_cast<std::int64_t>(ftello(file)); }

namespace {

// Days from 1970-01-01 to the first of `month` (1 to 12) of `year`, proleptic Gregorian.
std::int64_t days_to_month(std::int64_t year, int month) {
  year -= month <= 2 ? 1 : 0;
  std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  std::int64_t year_of_era = year - era * 400;
  std::int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5;
  return era * 146097 + year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year -
         719468;
}

// The fields of `fields` counted as if they were UTC, out-of-range months, days, hours and
// minutes carried over as mktime carries them; `second` stands for tm_sec.
std::int64_t fields_as_utc(const std::tm& fields, int second) {
  std::int64_t month = fields.tm_mon;
  std::int64_t year_carry = month >= 0 ? month / 12 : -((11 - month) / 12);
  std::int64_t days = days_to_month(fields.tm_year + 1900 + year_carry,
                                    static_cast<int>(month - year_carry * 12) + 1) +
                      fields.tm_mday - 1;
  return days * 86400 + fields.tm_hour * 3600 + fields.tm_min * 60 + second;
}

// The offset from UTC of the last time converted: files of one archive mostly share it, so the
// first guess is usually right and costs one localtime_r.
std::atomic<std::int64_t> last_local_offset{0};

}  // namespace

// mktime re-reads the time zone for every call (a stat of /etc/localtime per file); localtime_r
// reads it once. The seconds are found the way mktime with tm_isdst -1 finds them: a guess from
// the last offset, corrected by the offset localtime_r gives there until the local fields match.
// In a repeated hour the guess decides, as mktime's own remembered offset does; in a skipped hour
// the guesses alternate between two times, and the one in daylight saving time is taken when only
// one is, else the latest guess. Seconds past 59 are added after the search, as mktime adds them.
std::int64_t local_seconds_of_dos_time(std::uint32_t dos_date_time) {
  std::tm fields = dos_date_time_fields(dos_date_time);
  int second = fields.tm_sec > 59 ? 59 : fields.tm_sec;
  std::int64_t wanted = fields_as_utc(fields, second);
  std::int64_t guess = wanted - last_local_offset.load(std::memory_order_relaxed);
  std::int64_t previous = 0;
  std::int64_t before_previous = 0;
  bool previous_in_dst = false;
  for (int probe = 0; probe < 8; ++probe) {
    std::time_t time = static_cast<std::time_t>(guess);
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr) {
      return -1;
    }
    std::int64_t next = guess + wanted - fields_as_utc(local, local.tm_sec);
    bool in_dst = local.tm_isdst > 0;
    bool alternating = probe >= 2 && guess == before_previous && guess != previous;
    if (next == guess || alternating) {
      if (alternating && previous_in_dst && !in_dst) {
        guess = previous;
      }
      last_local_offset.store(wanted - guess, std::memory_order_relaxed);
      return guess + (fields.tm_sec - second);
    }
    before_previous = previous;
    previous = guess;
    previous_in_dst = in_dst;
    guess = next;
  }
  return -1;
}

namespace {

// The access time left alone, the modification time `dos_date_time`; false for an invalid date.
bool modification_times(std::uint32_t dos_date_time, timespec (&times)[2]) {
  std::int64_t seconds = local_seconds_of_dos_time(dos_date_time);
  if (seconds == -1) {
    return false;
  }
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = 0;
  return true;
}

}  // namespace

void set_file_time(const std::string& path, std::uint32_t dos_date_time) {
  timespec times[2];
  if (modification_times(dos_date_time, times)) {
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
}

void set_open_file_time(std::FILE* file, std::uint32_t dos_date_time) {
  timespec times[2];
  if (modification_times(dos_date_time, times)) {
    futimens(fileno(file), times);
  }
}

int set_open_file_mode(std::FILE* file, unsigned mode) {
  return fchmod(fileno(file), static_cast<mode_t>(mode & 0777)) == 0 ? 0 : errno;
}

int file_system_info(const std::string& path, FileSystemInfo& info) {
  struct statvfs status;
  if (statvfs(path.c_str(), &status) != 0) {
    return errno;
  }
  info.free_bytes =
      static_cast<std::uint64_t>(status.f_bavail) * static_cast<std::uint64_t>(status.f_frsize);
  info.runs_programs = (status.f_flag & ST_NOEXEC) == 0;
  return 0;
}

int set_file_mode(const std::string& path, unsigned mode) {
  return chmod(path.c_str(), static_cast<mode_t>(mode & 0777)) == 0 ? 0 : errno;
}

}  // namespace platform
