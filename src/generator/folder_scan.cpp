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

}  // namespace

bool scan_folder(const std::string& folder, std::vector<ArchiveItem>& items, std::string& error) {
  items.clear();
  std::error_code failure;
  if (!fs::is_directory(folder, failure)) {
    error = "cannot read the folder " + folder + ": not a directory";
    return false;
  }
  fs::path root(folder);
  fs::recursive_directory_iterator it(root, fs::directory_options::none, failure);
  for (; !failure && it != fs::recursive_directory_iterator(); it.increment(failure)) {
    const fs::directory_entry& entry = *it;
    std::string name = entry.path().lexically_relative(root).generic_string();
    fs::file_status status = entry.symlink_status(failure);
    if (failure) {
      break;
    }
    ArchiveItem item;
    if (fs::is_directory(status)) {
      item.is_directory = true;
      item.name = name + "/";
    } else if (fs::is_regular_file(status)) {
      item.name = name;
      item.source_path = entry.path().string();
    } else {
      error = "cannot store " + entry.path().string() + ": not a regular file or directory";
      return false;
    }
    if (!check_name(item.name, error)) {
      return false;
    }
    item.mode = static_cast<unsigned>(status.permissions() & fs::perms::mask) & 0777;
    fs::file_time_type time = entry.last_write_time(failure);
    if (failure) {
      break;
    }
    item.dos_date_time = dos_date_time_from_unix(unix_seconds(time));
    items.push_back(std::move(item));
  }
  if (failure) {
    error = "cannot read the folder " + folder + ": " + failure.message();
    return false;
  }
  std::sort(items.begin(), items.end(),
            [](const ArchiveItem& a, const ArchiveItem& b) { return a.name < b.name; });
  return true;
}
