// SPDX-License-Identifier: Zlib
// sfx_payload_tool: the sample tool that a demo package carries. It shows what a packaged tool
// receives from the stub: its arguments, the directory it runs in, TEMP, the certificate bundle
// and start directory it was given, and the data files beside it. The end-to-end tests use it
// too, through a few options that make it end with a chosen status, wait, or leave a mark.
//
// Options it acts on (all others are only shown):
//   --ssl-certificate PATH   the certificate bundle; shown, with whether the file is there
//   --current-dir DIR        the directory the package was started from; shown
//   --exit-status N          end with status N (default 0)
//   --touch FILE             create FILE once everything is shown
//   --remove-dir DIR         remove DIR with everything in it
//   --wait-seconds N         wait N seconds before ending
//   --list-fds               list the open file descriptors (Linux; from /proc/self/fd)
//   --list-signals           show the signals ignored and blocked (Linux; from /proc/self/status)
// Portable C++ only: it is built for every platform the stub runs on.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Every line goes out at once, so a tool that is interrupted has shown what it got.
void show(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string value_after(const std::vector<std::string>& args, const std::string& option,
                        bool& found) {
  found = false;
  std::string value;
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == option) {
      value = args[i + 1];
      found = true;
    }
  }
  return value;
}

std::string environment_value(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? "[" + std::string(value) + "]" : "(not set)";
}

void show_data_files(const fs::path& directory) {
  std::error_code error;
  std::vector<std::string> names;
  for (fs::recursive_directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error)) {
      names.push_back(it->path().generic_string());
    }
  }
  std::sort(names.begin(), names.end());
  if (names.empty()) {
    show("data files: none");
  }
  for (const std::string& name : names) {
    show("data file: " + name);
  }
}

// The numbers of the open file descriptors, ascending, without the one that lists them; "(not
// listed)" where there is no /proc/self/fd.
std::string open_descriptors() {
  std::error_code error;
  fs::path listing("/proc/self/fd");
  fs::path own = fs::canonical(listing, error);
  if (error) {
    return "(not listed)";
  }
  std::vector<int> numbers;
  for (fs::directory_iterator it(listing, error), end; !error && it != end; it.increment(error)) {
    std::error_code link_error;
    if (fs::read_symlink(it->path(), link_error) == own) {
      continue;
    }
    numbers.push_back(std::atoi(it->path().filename().string().c_str()));
  }
  std::sort(numbers.begin(), numbers.end());
  std::string text;
  for (int number : numbers) {
    text += (text.empty() ? "" : " ") + std::to_string(number);
  }
  return text;
}

// The value of the field `name` ("SigIgn", a mask in hexadecimal) of /proc/self/status; "(not
// listed)" where there is none.
std::string status_field(const std::string& name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(name + ":", 0) == 0) {
      std::string::size_type value = line.find_first_not_of(" \t", name.size() + 1);
      return value == std::string::npos ? std::string() : line.substr(value);
    }
  }
  return "(not listed)";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::error_code error;

  show("sfx_payload_tool: " + std::string(argc > 0 ? argv[0] : ""));
  show("arguments: " + std::to_string(args.size()));
  for (std::size_t i = 0; i < args.size(); ++i) {
    show("argument " + std::to_string(i + 1) + ": [" + args[i] + "]");
  }
  show("directory: [" + fs::current_path(error).string() + "]");
  show("TEMP: " + environment_value("TEMP"));
  show("PWD: " + environment_value("PWD"));

  bool found = false;
  std::string certificate = value_after(args, "--ssl-certificate", found);
  if (found) {
    std::ifstream bundle(certificate);
    std::string first_line;
    bool readable = bundle.is_open();
    std::getline(bundle, first_line);
    show("certificate: [" + certificate + "] " + (readable ? "found: " + first_line : "missing"));
  } else {
    show("certificate: (not given)");
  }
  std::string start_dir = value_after(args, "--current-dir", found);
  show("start directory: " + (found ? "[" + start_dir + "]" : std::string("(not given)")));
  show_data_files(fs::path("device_info"));
  if (std::find(args.begin(), args.end(), "--list-fds") != args.end()) {
    show("open descriptors: " + open_descriptors());
  }
  if (std::find(args.begin(), args.end(), "--list-signals") != args.end()) {
    show("ignored signals: " + status_field("SigIgn"));
    show("blocked signals: " + status_field("SigBlk"));
  }

  int status = std::atoi(value_after(args, "--exit-status", found).c_str());
  std::string remove_dir = value_after(args, "--remove-dir", found);
  if (found) {
    fs::remove_all(remove_dir, error);
    show("removed: [" + remove_dir + "]" + (error ? " failed: " + error.message() : ""));
  }
  int wait_seconds = std::atoi(value_after(args, "--wait-seconds", found).c_str());
  if (wait_seconds > 0) {
    show("waiting " + std::to_string(wait_seconds) + " s");
  }
  // Last of what is shown before the wait, so that whoever waits for the file sees all of it.
  std::string touch = value_after(args, "--touch", found);
  if (found) {
    std::ofstream mark(touch);
  }
  if (wait_seconds > 0) {
    std::this_thread::sleep_for(std::chrono::seconds(wait_seconds));
    show("waited");
  }
  show("exit status: " + std::to_string(status));
  return status;
}
