// SPDX-License-Identifier: Zlib
#include "generator/folder_scan.hpp"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "common/dos_time.hpp"
#include "package/entry_rules.hpp"

namespace fs = std::filesystem;

namespace {

// Seconds since 1970 of a file time. C++17 has no conversion between the file clock and the system
// clock; their epochs differ by a whole number of seconds, so the difference of the two clocks'
// current times, rounded to seconds, converts exactly.
long long unix_seconds(fs::file_time_type time) {
  using namespace std::chrono;
  auto file_now = fs::file_time_type::clock::now().time_since_epoch();
  auto system_now = system_clock::now().time_since_epoch();
  seconds offset =
      round<seconds>(duration_cast<nanoseconds>(file_now) - duration_cast<nanoseconds>(system_now));
  return (floor<seconds>(time.time_since_epoch()) - offset).count();
}

bool check_name(const std::string& name, std::string& error) {
  if (name.find('\\') != std::string::npos || name.find(':') != std::string::npos) {
    error = "cannot store the name " + name + ": it holds '\\' or ':'";
    return false;
  }
  if (name.size() >= k_entry_name_limit) {
    error = "cannot store the name " + name + ": it is " + std::to_string(name.size()) +
            " bytes long, the limit is " + std::to_string(k_entry_name_limit - 1);
    return false;
  }
  return true;
}

// The permission bits the archive stores for a scanned file or folder. A reproducible build
// keeps only whether a file may run: the rest (group bits from the builder's umask, a checkout's
// modes) would make two builds of the same files differ. Otherwise the bits go in as they are, so
// that a file kept private in the payload (0600, a key) stays private where it is unpacked,
// --sfx-extract-dir folders included.
unsigned stored_mode(fs::perms permissions, bool is_directory, bool reproducible) {
  if (!reproducible) {
    return static_cast<unsigned>(permissions & fs::perms::mask) & 0777;
  }
  const fs::perms exec = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
  return is_directory || (permissions & exec) != fs::perms::none ? 0755u : 0644u;
}

bool lies_within(const fs::path& path, const fs::path& root) {
  fs::path relative = path.lexically_relative(root);
  return !relative.empty() && *relative.begin() != "..";
}

struct Scan {
  const FolderScanOptions& options;
  fs::path root;
  // The real paths of the folders being walked, outermost first: a link to one of them would
  // lead into a loop.
  std::vector<fs::path> open_folders;
  std::vector<ArchiveItem>& items;
  std::string& error;
};

bool is_skipped(const Scan& scan, const fs::path& path) {
  std::error_code failure;
  return !scan.options.skipped_file.empty() &&
         fs::equivalent(path, scan.options.skipped_file, failure) && !failure;
}

// Checks the symbolic link `path` before it is stored as a copy of its target.
bool check_link(const Scan& scan, const fs::path& path, std::string& error) {
  std::error_code failure;
  fs::path written = fs::read_symlink(path, failure);
  std::string shown = path.string() + " -> " + written.string();
  failure.clear();
  fs::path target = fs::canonical(path, failure);
  if (failure) {
    error = "cannot store the symbolic link " + shown + ": its target cannot be read (" +
            failure.message() + ")";
    return false;
  }
  if (scan.options.outside_links == OutsideLinks::Refuse && !lies_within(target, scan.root)) {
    error = "cannot store the symbolic link " + shown +
            ": it leads out of the folder (--follow-links stores its target)";
    return false;
  }
  return true;
}

bool walk(Scan& scan, const fs::path& folder, const std::string& prefix) {
  std::error_code failure;
  for (fs::directory_iterator it(folder, failure), end; !failure && it != end;
       it.increment(failure)) {
    const fs::path& path = it->path();
    std::string name = prefix + path.filename().generic_string();
    fs::file_status status = it->symlink_status(failure);
    if (failure) {
      break;
    }
    bool is_link = fs::is_symlink(status);
    if (is_link) {
      if (!check_link(scan, path, scan.error)) {
        return false;
      }
      status = fs::status(path, failure);
      if (failure) {
        break;
      }
    }
    ArchiveItem item;
    if (fs::is_directory(status)) {
      item.is_directory = true;
      item.name = name + "/";
    } else if (fs::is_regular_file(status)) {
      if (is_skipped(scan, path)) {
        continue;
      }
      item.name = name;
      item.source_path = path.string();
    } else {
      scan.error = "cannot store " + path.string() + ": not a regular file or directory";
      return false;
    }
    if (!check_name(item.name, scan.error)) {
      return false;
    }
    item.mode = stored_mode(status.permissions(), item.is_directory,
                            scan.options.source_date_epoch.has_value());
    if (scan.options.source_date_epoch) {
      item.dos_date_time = dos_date_time_from_utc(*scan.options.source_date_epoch);
    } else {
      // The time of the link's target, like its contents.
      fs::file_time_type time = fs::last_write_time(path, failure);
      if (failure) {
        break;
      }
      item.dos_date_time = dos_date_time_from_unix(unix_seconds(time));
    }
    scan.items.push_back(std::move(item));
    if (fs::is_directory(status)) {
      fs::path real = fs::canonical(path, failure);
      if (failure) {
        break;
      }
      if (std::find(scan.open_folders.begin(), scan.open_folders.end(), real) !=
          scan.open_folders.end()) {
        scan.error = "cannot store " + path.string() +
                     (is_link ? " -> " + fs::read_symlink(path, failure).string() : "") +
                     ": a symbolic link to a folder that holds it would never end";
        return false;
      }
      scan.open_folders.push_back(real);
      if (!walk(scan, path, name + "/")) {
        return false;
      }
      scan.open_folders.pop_back();
    }
  }
  if (failure) {
    scan.error = "cannot read the folder " + folder.string() + ": " + failure.message();
    return false;
  }
  return true;
}

}  // namespace

bool scan_folder(const std::string& folder, const FolderScanOptions& options,
                 std::vector<ArchiveItem>& items, std::string& error) {
  items.clear();
  std::error_code failure;
  fs::path root = fs::is_directory(folder, failure) ? fs::canonical(folder, failure) : fs::path();
  if (root.empty() || failure) {
    std::error_code missing;
    error = "cannot read the folder " + folder +
            (fs::exists(folder, missing) ? ": not a directory" : ": does not exist");
    return false;
  }
  Scan scan{options, root, {root}, items, error};
  if (!walk(scan, fs::path(folder), "")) {
    return false;
  }
  std::sort(items.begin(), items.end(),
            [](const ArchiveItem& a, const ArchiveItem& b) { return a.name < b.name; });
  return true;
}
