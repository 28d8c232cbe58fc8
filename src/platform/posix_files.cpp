// SPDX-License-Identifier: Zlib
// Files and folders of the POSIX platform layer.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/magic.h>
#include <linux/openat2.h>
#include <sys/sendfile.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/platform.hpp"
#include "platform/posix_internal.hpp"

#include "common/dos_time.hpp"

namespace platform {

namespace {

// Whether the call that just failed was interrupted by a signal that asked for nothing: it is then
// made again. After a request to end the process it is not, and fails with EINTR.
bool interrupted_without_request() {
  int signal_number = 0;
  return errno == EINTR && !termination_requested(signal_number);
}

}  // namespace

int make_directory(const std::string& path, DirectoryAccess access) {
  // The mode is set as the folder is made; the umask can only take bits away.
  mode_t mode = access == DirectoryAccess::Private ? 0700 : 0755;
  return mkdir(path.c_str(), mode) == 0 ? 0 : errno;
}

namespace {

// The descriptor to name things in `folder` by: the current directory's while it is closed.
int at(const FileHandle& folder) { return folder.is_open() ? descriptor_of(folder) : AT_FDCWD; }

// Opens the folder `name` in `parent` without following a symbolic link: ELOOP when it is one
// (opened with O_DIRECTORY, a link may report ENOTDIR instead).
int open_folder_at(const FileHandle& parent, const char* name, FileHandle& folder) {
  int descriptor = openat(at(parent), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor >= 0) {
    folder.reset(descriptor);
    return 0;
  }
  int error = errno;
  struct stat info {};
  if ((error == ENOTDIR || error == ELOOP) &&
      fstatat(at(parent), name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)) {
    return ELOOP;
  }
  return error;
}

#if defined(SYS_openat2)
// Cleared the first time the kernel (or a seccomp filter) turns openat2 away: a kernel before 5.6,
// or one that knows a shorter `open_how`.
std::atomic<bool> g_openat2_usable{true};
#endif

// Opens `path` in one call, the kernel refusing a symbolic link anywhere on the way (openat2 with
// RESOLVE_NO_SYMLINKS, Linux 5.6 on): -1 when that fails for any reason, a link included. The
// caller then walks the path one folder at a time, which tells the failures apart, so this only
// spares the walk's calls to a path that has no link.
int open_without_links(const std::string& path, int flags, mode_t mode) {
#if defined(SYS_openat2)
  if (g_openat2_usable.load(std::memory_order_relaxed)) {
    struct open_how how {};
    how.flags = static_cast<std::uint64_t>(flags);
    how.mode = (flags & O_CREAT) != 0 ? mode : 0;
    how.resolve = RESOLVE_NO_SYMLINKS;
    long descriptor = syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
    if (descriptor < 0 && (errno == ENOSYS || errno == EPERM || errno == E2BIG)) {
      g_openat2_usable.store(false, std::memory_order_relaxed);
    }
    return static_cast<int>(descriptor);
  }
#else
  (void)path;
  (void)flags;
  (void)mode;
#endif
  return -1;
}

// Splits `path` into the path of the folder that holds its last component (empty for the
// current directory, "/" for the root) and that component, without trailing separators. False
// for a path of separators alone.
bool split_folder_path(const std::string& path, std::string& folder, std::string& name) {
  std::size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) {
    return false;
  }
  std::size_t slash = path.rfind('/', end);
  std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  name = path.substr(start, end + 1 - start);
  folder = slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
  return true;
}

// Opens into `parent` the folder `folder` (split_folder_path's), one component at a time from the
// current directory (the root for an absolute path), never through a symbolic link, with two
// descriptors at most, whatever the depth; `parent` stays closed for the current directory itself.
int open_folder_path(const std::string& folder, FileHandle& parent) {
  if (folder.empty()) {
    return 0;
  }
  int descriptor = open_without_links(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (descriptor >= 0) {
    parent.reset(descriptor);
    return 0;
  }
  std::size_t begin = 0;
  if (folder[0] == '/') {
    parent.reset(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.is_open()) {
      return errno;
    }
    begin = 1;
  }
  while (begin < folder.size()) {
    std::size_t next = folder.find('/', begin);
    if (next == std::string::npos) {
      next = folder.size();
    }
    std::string component = folder.substr(begin, next - begin);
    if (!component.empty() && component != ".") {
      FileHandle opened;
      int error = open_folder_at(parent, component.c_str(), opened);
      if (error != 0) {
        return error;
      }
      parent = std::move(opened);
    }
    begin = next + 1;
  }
  return 0;
}

// Opens into `parent` the folder that holds the last component of `path`, as open_folder_path
// does; `name` gets that component.
int open_parent_folder(const std::string& path, FileHandle& parent, std::string& name) {
  std::string folder;
  if (!split_folder_path(path, folder, name)) {
    return EINVAL;
  }
  return open_folder_path(folder, parent);
}

// How output files are opened. Made exclusively first (O_EXCL, then O_TRUNC), so that the caller
// learns whether the file was there before; a file made gets the caller's bits (owner-only unless
// the caller knows nobody else can reach it).
constexpr int k_output_flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC;

// Opens the file `name` in the open folder `parent` as open_output_file describes.
int open_output_file_in(const FileHandle& parent, const std::string& name, bool& created,
                        FileHandle& file, mode_t bits) {
  int descriptor = openat(at(parent), name.c_str(), k_output_flags | O_EXCL, bits);
  created = descriptor >= 0;
  if (descriptor < 0 && errno == EEXIST) {
    descriptor = openat(at(parent), name.c_str(), k_output_flags | O_TRUNC, bits);
  }
  if (descriptor < 0 && errno == ELOOP) {
    // A symbolic link in the file's place: it goes, and the file is made anew.
    if (unlinkat(at(parent), name.c_str(), 0) == 0 || errno == ENOENT) {
      descriptor = openat(at(parent), name.c_str(), k_output_flags | O_EXCL, bits);
      created = descriptor >= 0;
    }
  }
  if (descriptor < 0) {
    return errno;
  }
  file.reset(descriptor);
  return 0;
}

}  // namespace

int open_output_file(const std::string& path, bool& created, FileHandle& file,
                     OutputFolder* folder, unsigned bits) {
  mode_t creation_bits = static_cast<mode_t>(bits & 0777);
  if (folder != nullptr) {
    // A second file in the folder of the last one: the folder is kept open, and this file and
    // the next ones there are looked up by their name alone instead of their whole path.
    std::string folder_path;
    std::string name;
    if (!split_folder_path(path, folder_path, name)) {
      return EINVAL;
    }
    if (folder_path == folder->path) {
      if (!folder->known) {
        int error = open_folder_path(folder_path, folder->handle);
        if (error != 0) {
          return error;
        }
        folder->known = true;
      }
      return open_output_file_in(folder->handle, name, created, file, creation_bits);
    }
    folder->forget();
    folder->path = folder_path;
  }
  // The whole path in one call, where no link is on the way.
  int descriptor = open_without_links(path, k_output_flags | O_EXCL, creation_bits);
  created = descriptor >= 0;
  if (descriptor < 0 && errno == EEXIST) {
    descriptor = open_without_links(path, k_output_flags | O_TRUNC, creation_bits);
  }
  if (descriptor >= 0) {
    file.reset(descriptor);
    return 0;
  }
  FileHandle parent;
  std::string name;
  int error = open_parent_folder(path, parent, name);
  if (error != 0) {
    return error;
  }
  return open_output_file_in(parent, name, created, file, creation_bits);
}

bool creates_with_given_bits(const std::string& path) {
  // A folder without a default ACL says so with ENODATA; a file system without POSIX ACLs cannot
  // say what it hands down.
  return getxattr(path.c_str(), "system.posix_acl_default", nullptr, 0) < 0 && errno == ENODATA;
}

int make_directory_beneath(const std::string& path, unsigned mode) {
  FileHandle parent;
  std::string name;
  int error = open_parent_folder(path, parent, name);
  if (error != 0) {
    return error;
  }
  return mkdirat(at(parent), name.c_str(), static_cast<mode_t>(mode & 0777)) == 0 ? 0 : errno;
}

int set_directory_mode_beneath(const std::string& path, unsigned mode) {
  FileHandle parent;
  FileHandle folder;
  std::string name;
  folder.reset(open_without_links(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  int error = folder.is_open() ? 0 : open_parent_folder(path, parent, name);
  if (error == 0 && !folder.is_open()) {
    error = open_folder_at(parent, name.c_str(), folder);
  }
  if (error != 0) {
    return error;
  }
  return fchmod(descriptor_of(folder), static_cast<mode_t>(mode & 0777)) == 0 ? 0 : errno;
}

int make_symbolic_link_beneath(const std::string& path, const std::string& target) {
  FileHandle parent;
  std::string name;
  int error = open_parent_folder(path, parent, name);
  if (error != 0) {
    return error;
  }
  if (symlinkat(target.c_str(), at(parent), name.c_str()) == 0) {
    return 0;
  }
  // An existing file or link of that name is replaced, as files are; a folder stays (EISDIR).
  if (errno != EEXIST || unlinkat(at(parent), name.c_str(), 0) != 0) {
    return errno;
  }
  return symlinkat(target.c_str(), at(parent), name.c_str()) == 0 ? 0 : errno;
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
  } while (count < 0 && interrupted_without_request());
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
  } while (count < 0 && interrupted_without_request());
  if (count < 0) {
    return errno;
  }
  written = static_cast<std::size_t>(count);
  return 0;
}

int copy_between_files(const FileHandle& from, std::uint64_t offset, const FileHandle& to,
                       std::size_t size, std::size_t& copied) {
  copied = 0;
#if defined(__linux__)
  int in = static_cast<int>(from.native());
  int out = static_cast<int>(to.native());
  loff_t from_offset = static_cast<loff_t>(offset);
  ssize_t count = 0;
  do {
    count = copy_file_range(in, &from_offset, out, nullptr, size, 0);
  } while (count < 0 && interrupted_without_request());
  if (count < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
    // From one file system to another (a package on disk, a temporary folder on tmpfs): sendfile
    // still moves the pages inside the kernel, one copy where reading and writing here make two.
    off_t sent_from = static_cast<off_t>(offset);
    do {
      count = sendfile(out, in, &sent_from, size);
    } while (count < 0 && interrupted_without_request());
  }
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

int stream_file_handle(std::FILE* stream, FileHandle& file) {
  int descriptor = fcntl(fileno(stream), F_DUPFD_CLOEXEC, 0);
  if (descriptor < 0) {
    return errno;
  }
  file.reset(descriptor);
  return 0;
}

int reserve_file_space(const FileHandle& file, std::uint64_t size) {
#if defined(__linux__)
  if (size == 0) {
    return 0;
  }
  if (size > static_cast<std::uint64_t>(INT64_MAX)) {
    return EFBIG;
  }
  int result = 0;
  do {
    result = fallocate(static_cast<int>(file.native()), FALLOC_FL_KEEP_SIZE, 0,
                       static_cast<off_t>(size));
  } while (result != 0 && errno == EINTR);
  return result == 0 ? 0 : errno;
#else
  (void)file;
  (void)size;
  return EOPNOTSUPP;
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

// The access time left alone, the modification time `seconds` (local_seconds_of_dos_time's); false
// for an invalid date.
bool modification_times(std::int64_t seconds, timespec (&times)[2]) {
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
  if (modification_times(local_seconds_of_dos_time(dos_date_time), times)) {
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
  }
}

void set_open_file_time(const FileHandle& file, std::uint32_t dos_date_time, FileTimeMemo* memo) {
  // The same time converted again right after comes to the same seconds: the search starts from
  // the offset it ended with.
  std::int64_t seconds = 0;
  if (memo != nullptr && memo->known && memo->dos_date_time == dos_date_time) {
    seconds = memo->seconds;
  } else {
    seconds = local_seconds_of_dos_time(dos_date_time);
    if (memo != nullptr) {
      *memo = FileTimeMemo{true, dos_date_time, seconds};
    }
  }
  timespec times[2];
  if (modification_times(seconds, times)) {
    futimens(descriptor_of(file), times);
  }
}

int set_open_file_mode(const FileHandle& file, unsigned mode) {
  return fchmod(descriptor_of(file), static_cast<mode_t>(mode & 0777)) == 0 ? 0 : errno;
}

int set_open_file_mode(std::FILE* file, unsigned mode) {
  return fchmod(fileno(file), static_cast<mode_t>(mode & 0777)) == 0 ? 0 : errno;
}

bool is_on_network_file_system(const FileHandle& file) {
#if defined(__linux__)
  struct statfs status {};
  if (fstatfs(static_cast<int>(file.native()), &status) != 0) {
    return false;
  }
  // Lustre and GPFS keep their numbers outside the kernel's tree. FUSE's stands for every FUSE
  // file system, local ones too.
  constexpr std::uint32_t k_lustre_magic = 0x0BD00BD0;
  constexpr std::uint32_t k_gpfs_magic = 0x47504653;
  switch (static_cast<std::uint32_t>(status.f_type)) {
    case NFS_SUPER_MAGIC:
    case SMB_SUPER_MAGIC:
    case CIFS_SUPER_MAGIC:
    case SMB2_SUPER_MAGIC:
    case V9FS_MAGIC:
    case AFS_SUPER_MAGIC:
    case AFS_FS_MAGIC:
    case CEPH_SUPER_MAGIC:
    case CODA_SUPER_MAGIC:
    case NCP_SUPER_MAGIC:
    case k_lustre_magic:
    case k_gpfs_magic:
    case FUSE_SUPER_MAGIC:
      return true;
    default:
      return false;
  }
#else
  (void)file;
  return false;
#endif
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
