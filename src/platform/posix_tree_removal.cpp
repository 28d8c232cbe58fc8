// SPDX-License-Identifier: Zlib
// Removing folder trees on the POSIX platform layer: never through a symbolic link, with a
// bounded number of descriptors whatever the tree's depth, and a large tree on two threads.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.hpp"
#include "platform/posix_internal.hpp"

namespace platform {

namespace {

// How many folders of one descent keep their descriptor. A deeper folder closes the one this many
// levels above it, which is opened again through ".." on the way back up: a tree of any depth
// costs a thread at most this many descriptors, and two more for a moment.
constexpr std::size_t k_open_levels = 8;

// A tree with this many folders side by side within its first levels is removed on two threads,
// which take those folders one at a time. A smaller tree is not worth a thread's start.
constexpr std::size_t k_shared_folders = 16;
constexpr int k_shared_levels = 4;

// A file this large takes long to remove, its pages or blocks freed one by one: two of them in the
// first levels are shared by the two threads too. Only the first files met there are weighed, and
// the large ones of a few folders kept for the threads, with a descriptor of each folder.
constexpr off_t k_large_file = off_t{256} << 10;
constexpr std::size_t k_weighed_files = 256;
constexpr std::size_t k_kept_large_files = 64;
constexpr std::size_t k_kept_folders = 4;

void note(int& first_error, int error) {
  if (first_error == 0) {
    first_error = error;
  }
}

// The removal is what a run's ending does, after a termination request too: a call that a signal
// interrupted is made again.
int open_at(int dir_fd, const char* name, int flags) {
  int fd = -1;
  do {
    fd = openat(dir_fd, name, flags | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int unlink_at(int dir_fd, const char* name, int flags) {
  int result = 0;
  do {
    result = unlinkat(dir_fd, name, flags);
  } while (result != 0 && errno == EINTR);
  return result == 0 ? 0 : errno;
}

constexpr int k_folder_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK;

// Opens the folder `name` in `dir_fd`, never through a symbolic link, for removing what it holds,
// and sets `identity`. A folder that denies its owner reading, writing or entering (mode 000,
// 100, 300, ...) would keep its entries: the owner gets rwx first, through the descriptor, or,
// when reading is denied and it cannot be opened at all, by name without following a link (glibc
// goes through /proc for that). Returns the descriptor, or -1 with errno set: ENOTDIR or ELOOP
// when `name` is no folder (a link to one included).
int open_folder(int dir_fd, const char* name, struct stat& identity) {
  int fd = open_at(dir_fd, name, k_folder_flags);
  if (fd < 0 && errno == EACCES) {
    if (fstatat(dir_fd, name, &identity, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(identity.st_mode) &&
        fchmodat(dir_fd, name, (identity.st_mode & 07777) | S_IRWXU, AT_SYMLINK_NOFOLLOW) == 0) {
      fd = open_at(dir_fd, name, k_folder_flags);
    } else {
      errno = EACCES;
    }
  }
  if (fd < 0) {
    return -1;
  }
  if (fstat(fd, &identity) != 0) {
    int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  if ((identity.st_mode & S_IRWXU) != S_IRWXU) {
    // Somebody else's folder keeps its mode; its entries may still go.
    (void)fchmod(fd, (identity.st_mode & 07777) | S_IRWXU);
  }
  return fd;
}

struct Entry {
  std::string name;
  unsigned char type;  // DT_DIR, DT_UNKNOWN (the file system does not say) or another type
};

bool may_be_folder(const Entry& entry) {
  return entry.type == DT_DIR || entry.type == DT_UNKNOWN;
}

// Reads the entries of the open folder `dir_fd`, but `kept_name` (none when null), into
// `entries`: all of them before any goes, for the folder changes while its entries go. Returns 0
// or an errno value. The descriptor is read directly, from its first entry (an earlier reading
// may have moved it): a directory stream would cost a descriptor of its own and four calls more.
int read_entries(int dir_fd, const char* kept_name, std::vector<Entry>& entries) {
  if (lseek(dir_fd, 0, SEEK_SET) < 0) {
    return errno;
  }
  alignas(dirent64) char buffer[8192];
  for (;;) {
    ssize_t got = getdents64(dir_fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return got == 0 ? 0 : errno;
    }
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0 &&
          (kept_name == nullptr || std::strcmp(entry->d_name, kept_name) != 0)) {
        entries.push_back(Entry{entry->d_name, entry->d_type});
      }
    }
  }
}

// A folder on the way down the tree that one thread removes.
struct Level {
  FileHandle folder;  // closed while deeper levels hold the descriptors
  dev_t device = 0;   // what it is, to know it again when it is opened through ".."
  ino_t inode = 0;
  std::string name;  // its name in the level above
  std::vector<Entry> entries;
  std::size_t next = 0;  // the first entry not yet removed
  int first_error = 0;
};

// Opens the folder `name` in `dir_fd` as the deepest of `levels`, its entries read; closes the
// descriptor of the level that is then k_open_levels above it. An entry that is no folder is
// removed at once, and one that cannot be opened is removed when it is an empty folder. Returns 0
// or the first errno value met.
int descend(int dir_fd, const std::string& name, std::vector<Level>& levels) {
  Level level;
  struct stat identity {};
  level.folder.reset(open_folder(dir_fd, name.c_str(), identity));
  if (!level.folder.is_open()) {
    int error = errno;
    if (error == ENOTDIR || error == ELOOP) {
      return unlink_at(dir_fd, name.c_str(), 0);
    }
    (void)unlink_at(dir_fd, name.c_str(), AT_REMOVEDIR);
    return error;
  }
  level.device = identity.st_dev;
  level.inode = identity.st_ino;
  level.name = name;
  level.first_error = read_entries(descriptor_of(level.folder), nullptr, level.entries);
  levels.push_back(std::move(level));
  if (levels.size() > k_open_levels) {
    (void)levels[levels.size() - 1 - k_open_levels].folder.close();
  }
  return 0;
}

// Opens the folder of `up` again through ".." of `below`, the level under it, which is open. It
// must be the folder it was: when `below` was moved elsewhere meanwhile, the removal does not go
// on in the folder it now stands in. Returns 0 or an errno value (ENOENT for a moved folder).
int reopen_above(const Level& below, Level& up) {
  FileHandle folder(open_at(descriptor_of(below.folder), "..", k_folder_flags));
  struct stat identity {};
  if (!folder.is_open() || fstat(descriptor_of(folder), &identity) != 0) {
    return errno;
  }
  if (identity.st_dev != up.device || identity.st_ino != up.inode) {
    return ENOENT;
  }
  up.folder = std::move(folder);
  return 0;
}

// Removes `name` in the folder `dir_fd` with everything below it, depth first without recursion;
// a symbolic link, or anything else that is no folder, is removed itself. Goes on past entries
// it cannot remove and returns the first errno value met, or 0.
int remove_below(int dir_fd, const std::string& name) {
  std::vector<Level> levels;
  int first_error = descend(dir_fd, name, levels);
  while (!levels.empty()) {
    Level& top = levels.back();
    if (top.next < top.entries.size()) {
      const Entry& entry = top.entries[top.next++];
      // An entry that the folder says is no folder goes at once, without a look at it.
      if (!may_be_folder(entry) && unlink_at(descriptor_of(top.folder), entry.name.c_str(), 0) == 0) {
        continue;
      }
      std::size_t at = levels.size() - 1;
      int error = descend(descriptor_of(top.folder), entry.name, levels);
      note(levels[at].first_error, error);
      continue;
    }
    // Everything below the deepest level is gone, or could not go: the folder itself goes next,
    // from the level above.
    Level done = std::move(top);
    levels.pop_back();
    int parent_fd = dir_fd;
    int* parent_error = &first_error;
    if (!levels.empty()) {
      Level& up = levels.back();
      if (!up.folder.is_open()) {
        int error = reopen_above(done, up);
        if (error != 0) {
          note(first_error, error);
          return first_error;
        }
      }
      parent_fd = descriptor_of(up.folder);
      parent_error = &up.first_error;
    }
    (void)done.folder.close();
    note(done.first_error, unlink_at(parent_fd, done.name.c_str(), AT_REMOVEDIR));
    note(*parent_error, done.first_error);
  }
  return first_error;
}

// The large files of the first levels that the two threads remove, a descriptor of its own for
// each folder that holds some, and how many files were weighed.
struct LargeFiles {
  std::vector<FileHandle> folders;
  std::vector<std::pair<std::size_t, std::string>> files;  // the folder's place in `folders`
  std::size_t weighed = 0;
  // Whether `folders` ends with the folder being read now.
  bool holds_current = false;

  // Called as each folder is read, before keep().
  void begin_folder() { holds_current = false; }

  // Whether the file `name` in the folder `dir_fd` being read is kept here rather than removed at
  // once.
  bool keep(int dir_fd, std::string& name) {
    if (weighed >= k_weighed_files || files.size() >= k_kept_large_files ||
        (!holds_current && folders.size() >= k_kept_folders)) {
      return false;
    }
    ++weighed;
    struct stat info {};
    if (fstatat(dir_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode) || info.st_size < k_large_file) {
      return false;
    }
    if (!holds_current) {
      FileHandle folder(fcntl(dir_fd, F_DUPFD_CLOEXEC, 0));
      if (!folder.is_open()) {
        return false;
      }
      folders.push_back(std::move(folder));
      holds_current = true;
    }
    files.emplace_back(folders.size() - 1, std::move(name));
    return true;
  }

  int folder_of(const std::pair<std::size_t, std::string>& file) const {
    return descriptor_of(folders[file.first]);
  }
};

// Removes the entries of the open folder `dir_fd` but `kept_name` (none when null). With
// `folders`, only what the folder says is no folder goes, and the rest is listed there; without,
// everything goes. With `large`, large files may be kept there instead. Returns the first errno
// value met, or 0.
int clear_folder(int dir_fd, const char* kept_name, std::vector<std::string>* folders,
                 LargeFiles* large = nullptr) {
  std::vector<Entry> entries;
  int first_error = read_entries(dir_fd, kept_name, entries);
  if (large != nullptr) {
    large->begin_folder();
  }
  for (Entry& entry : entries) {
    if (!may_be_folder(entry) && ((large != nullptr && large->keep(dir_fd, entry.name)) ||
                                  unlink_at(dir_fd, entry.name.c_str(), 0) == 0)) {
      continue;
    }
    if (folders != nullptr) {
      folders->push_back(std::move(entry.name));
    } else {
      note(first_error, remove_below(dir_fd, entry.name));
    }
  }
  return first_error;
}

// A folder of the first levels and its subfolders, which the two threads remove.
struct Branches {
  int folder = -1;
  FileHandle owned;  // `folder` when the search below opened it
  std::vector<std::string> names;
};

// The large files and the subfolders that the two threads share out, each removed by one of them:
// the files first.
struct SharedBranches {
  std::vector<std::pair<int, const std::string*>> files;
  std::vector<std::pair<int, const std::string*>> branches;
  std::atomic<std::size_t> next{0};
};

void remove_shared_branches(void* opaque) {
  SharedBranches& shared = *static_cast<SharedBranches*>(opaque);
  std::size_t files = shared.files.size();
  for (std::size_t at = shared.next++; at < files + shared.branches.size(); at = shared.next++) {
    if (at < files) {
      (void)unlink_at(shared.files[at].first, shared.files[at].second->c_str(), 0);
    } else {
      (void)remove_below(shared.branches[at - files].first, *shared.branches[at - files].second);
    }
  }
}

// Removes every entry of the open folder `dir_fd` but `kept_name` (none when null). Goes down the
// first levels, removing their files, while they hold few folders side by side; when it finds
// many, or two large files, two threads remove those large files and the folders of the last
// level it reached (the calling thread alone when no second one can start). A last pass then
// removes the rest: the first levels' folders, empty by now, and whatever could not be removed,
// whose errors it returns (the first one, or 0).
int remove_entries(int dir_fd, const char* kept_name) {
  LargeFiles large;
  std::vector<Branches> level(1);
  level[0].folder = dir_fd;
  (void)clear_folder(dir_fd, kept_name, &level[0].names, &large);
  std::size_t count = level[0].names.size();
  for (int depth = 1; depth < k_shared_levels && count > 0 && count < k_shared_folders; ++depth) {
    // Fewer than k_shared_folders descriptors are open at a time: one per folder of `below`.
    std::vector<Branches> below;
    count = 0;
    for (Branches& parent : level) {
      for (const std::string& name : parent.names) {
        struct stat identity {};
        Branches branches;
        branches.owned.reset(open_folder(parent.folder, name.c_str(), identity));
        if (branches.owned.is_open()) {
          branches.folder = descriptor_of(branches.owned);
          (void)clear_folder(branches.folder, nullptr, &branches.names, &large);
          count += branches.names.size();
          below.push_back(std::move(branches));
        }
      }
      (void)parent.owned.close();
    }
    level = std::move(below);
  }
  if (count >= k_shared_folders || large.files.size() >= 2) {
    SharedBranches shared;
    for (const auto& file : large.files) {
      shared.files.emplace_back(large.folder_of(file), &file.second);
    }
    for (const Branches& branches : level) {
      for (const std::string& name : branches.names) {
        shared.branches.emplace_back(branches.folder, &name);
      }
    }
    std::uintptr_t second = 0;
    bool started = start_thread(remove_shared_branches, &shared, second) == 0;
    remove_shared_branches(&shared);
    if (started) {
      join_thread(second);
    }
  } else {
    for (const auto& file : large.files) {
      (void)unlink_at(large.folder_of(file), file.second.c_str(), 0);
    }
  }
  large.files.clear();
  large.folders.clear();
  level.clear();
  return clear_folder(dir_fd, kept_name, nullptr);
}

}  // namespace

int remove_tree(const std::string& path) {
  if (path.empty()) {
    return ENOENT;
  }
  struct stat identity {};
  FileHandle folder(open_folder(AT_FDCWD, path.c_str(), identity));
  if (!folder.is_open()) {
    int error = errno;
    if (error == ENOTDIR || error == ELOOP) {
      return unlink_at(AT_FDCWD, path.c_str(), 0);
    }
    (void)unlink_at(AT_FDCWD, path.c_str(), AT_REMOVEDIR);
    return error;
  }
  int first_error = remove_entries(descriptor_of(folder), nullptr);
  (void)folder.close();
  note(first_error, unlink_at(AT_FDCWD, path.c_str(), AT_REMOVEDIR));
  return first_error;
}

int empty_private_directory(const std::string& path, const std::string& kept_name) {
  struct stat identity {};
  FileHandle folder(open_folder(AT_FDCWD, path.c_str(), identity));
  if (!folder.is_open()) {
    return errno;
  }
  if (identity.st_uid != geteuid()) {
    return EPERM;
  }
  if ((identity.st_mode & 07777) != S_IRWXU && fchmod(descriptor_of(folder), S_IRWXU) != 0) {
    return errno;
  }
  return remove_entries(descriptor_of(folder), kept_name.c_str());
}

}  // namespace platform
