// SPDX-License-Identifier: Zlib
// Fuzzes the two-thread extraction against the one-thread one: any bytes as archive.zip, extracted
// once with two threads from the first entry on and once on one thread, each into a folder of its
// own. Both must print the same messages and end with the same status; on success both folders
// hold the same tree (names, kinds, bytes, modes); on failure every file that the one-thread run
// completed before the entry it stopped at is in both folders alike. Since the process changes
// directory, give it its corpus folders and -artifact_prefix as absolute paths (scripts/fuzz does).

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "console/messages.hpp"
#include "extract/archive_extraction.hpp"
#include "package/entry_rules.hpp"
#include "platform/platform.hpp"
#include "testing/disk_pass_through.hpp"

#include "private_folder.hpp"

namespace {

namespace fs = std::filesystem;

fuzzing::ExtractionFolders& folders() {
  static auto* instance = new fuzzing::ExtractionFolders({"one", "two"});
  return *instance;
}

// The disk, noting the files whose data was written, flushed, given its mode and closed.
class RecordingSink final : public DiskPassThrough {
 public:
  int open_file(const std::string& path, unsigned mode, bool& created) override {
    m_open = path;
    opened.push_back(path);
    return m_disk.open_file(path, mode, created);
  }
  int close_file() override {
    int error = m_disk.close_file();
    if (error == 0 && !m_open.empty()) {
      closed.push_back(m_open);
    }
    m_open.clear();
    return error;
  }

  std::vector<std::string> opened;
  std::vector<std::string> closed;

 private:
  std::string m_open;
};

struct Run {
  int status = -1;
  std::vector<HeldMessages::Line> messages;
  std::vector<std::string> opened;
  std::vector<std::string> closed;
};

Run extract_into(const fs::path& target, std::uint64_t parallel_entries) {
  Run run;
  platform::FileHandle file;
  folders().open_archive(file);
  RecordingSink sink;
  RecordingSink second_sink;
  {
    HeldMessages held;
    run.status = extract_archive(
        file, target.string(), this_platform(),
        ExtractionEngine{&sink, &second_sink, parallel_entries, UINT64_MAX, UINT64_MAX});
    run.messages = held.take();
  }
  run.opened = sink.opened;
  run.closed = sink.closed;
  return run;
}

// What one name of a tree is: its kind, permission bits and bytes (a link's target).
struct Node {
  char kind = '?';
  unsigned mode = 0;
  std::string bytes;
  bool operator==(const Node& other) const {
    return kind == other.kind && mode == other.mode && bytes == other.bytes;
  }
};

Node node_at(const fs::path& path) {
  Node node;
  std::error_code error;
  fs::file_status status = fs::symlink_status(path, error);
  if (error || !fs::exists(status)) {
    return node;
  }
  node.mode = static_cast<unsigned>(status.permissions() & fs::perms::mask);
  if (fs::is_symlink(status)) {
    node.kind = 'l';
    node.bytes = fs::read_symlink(path, error).string();
  } else if (fs::is_directory(status)) {
    node.kind = 'd';
  } else if (fs::is_regular_file(status)) {
    node.kind = 'f';
    fs::permissions(path, fs::perms::owner_read, fs::perm_options::add, error);
    std::ifstream in(path, std::ios::binary);
    node.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return node;
}

std::map<std::string, Node> tree_of(const fs::path& root) {
  fuzzing::make_removable(root);
  std::map<std::string, Node> tree;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error)) {
    // By the names alone: relative() would resolve the links the archive made.
    tree[it->path().lexically_relative(root).string()] = node_at(it->path());
  }
  return tree;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  (void)folders();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::ExtractionFolders& f = folders();
  f.write_archive(data, size);
  fs::path two_threads = f.folder("two");
  fs::path one_thread = f.folder("one");
  Run two = extract_into(two_threads, 1);
  Run one = extract_into(one_thread, UINT64_MAX);
  if (two.status != one.status) {
    fuzzing::fail("the statuses differ:",
                  std::to_string(two.status) + " " + std::to_string(one.status));
  }
  if (two.messages.size() != one.messages.size()) {
    fuzzing::fail("the messages differ in number");
  }
  for (std::size_t i = 0; i < one.messages.size(); ++i) {
    if (two.messages[i].to_error != one.messages[i].to_error ||
        two.messages[i].text != one.messages[i].text) {
      fuzzing::fail("the messages differ:", two.messages[i].text + " | " + one.messages[i].text);
    }
  }
  std::map<std::string, Node> two_tree = tree_of(two_threads);
  std::map<std::string, Node> one_tree = tree_of(one_thread);
  if (one.status == k_extract_ok) {
    if (two_tree != one_tree) {
      fuzzing::fail("the trees differ after a complete extraction");
    }
  } else {
    // The entry the one-thread run stopped at may be the last file it opened: that one and any
    // later ones are left out.
    std::vector<std::string> complete = one.closed;
    if (!complete.empty() && !one.opened.empty() && complete.back() == one.opened.back()) {
      complete.pop_back();
    }
    for (const std::string& name : complete) {
      if (!(node_at(two_threads / name) == node_at(one_thread / name))) {
        fuzzing::fail("an entry before the failing one differs:", name);
      }
    }
  }
  f.check_nothing_outside();
  fuzzing::empty_folder(two_threads);
  fuzzing::empty_folder(one_thread);
  return 0;
}
