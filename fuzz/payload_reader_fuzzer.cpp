// SPDX-License-Identifier: Zlib
// Fuzzes the payload reader: any bytes as the stub's own file, first as they are, then with a
// valid trailer appended (the input chooses the command texts and where the archive starts). For
// the second form the reader must succeed and hand back exactly what the trailer holds.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "package/entry_rules.hpp"
#include "package/trailer_codec.hpp"
#include "package/trailer_layout.hpp"
#include "payload/payload_reader.hpp"
#include "private_folder.hpp"

namespace {

namespace fs = std::filesystem;

struct Folders {
  fuzzing::PrivateFolder root;
  fs::path self_path = root.path() / "package.bin";
  fs::path work_dir = root.path() / "work";
  std::string expected_listing = "package.bin/work/";
};

Folders& folders() {
  static Folders* instance = [] {
    Folders* made = new Folders;
    fs::create_directory(made->work_dir);
    return made;
  }();
  return *instance;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the reader over `package`; returns its status and leaves the result in `result`.
int read_package(const std::string& package, PayloadResult& result) {
  Folders& f = folders();
  fuzzing::write_input(f.self_path, reinterpret_cast<const std::uint8_t*>(package.data()),
                       package.size());
  result = PayloadResult();
  return read_payload(f.self_path.string(), f.work_dir.string(), this_platform(), result);
}

// After each read: the reader wrote at most archive.zip into the work folder, nothing beside it.
void check_and_clean() {
  Folders& f = folders();
  if (fuzzing::folder_listing(f.root.path()) != f.expected_listing) {
    fuzzing::fail("the reader left something beside the work folder");
  }
  std::string inside = fuzzing::folder_listing(f.work_dir);
  if (!inside.empty() && inside != "archive.zip/") {
    fuzzing::fail("the reader wrote something else than archive.zip");
  }
  fuzzing::empty_folder(f.work_dir);
}

std::string forward_pattern(const char* reversed, int length) {
  char field[k_pattern_field_size];
  build_pattern_field(reversed, length, field);
  return std::string(field);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  PayloadResult result;

  (void)read_package(bytes, result);
  check_and_clean();

  if (size < 3) {
    return 0;
  }
  // Byte 0: bit 0 adds the extra tool section. Byte 1: the command's length. Byte 2: how many of
  // the remaining bytes stand for the stub's image; the rest is the archive.
  bool extra_tool = (data[0] & 1) != 0;
  std::string rest = bytes.substr(3);
  std::string command = rest.substr(0, std::min<std::size_t>(data[1], rest.size()));
  for (char& c : command) {
    if (c == '\0') {
      c = ' ';
    }
  }
  std::size_t image_size = data[2] % (rest.size() + 1);
  std::string archive = rest.substr(image_size);
  std::optional<std::string> extra_command;
  if (extra_tool) {
    extra_command = std::string(command.rbegin(), command.rend());
  }
  std::string package =
      rest + encode_trailer(command, static_cast<std::uint32_t>(archive.size()), extra_command);

  int status = read_package(package, result);
  // Bytes that spell the extra-tool pattern just below a trailer without that section read as
  // one: the layout cannot tell them apart, so such inputs only have to be read safely.
  bool ambiguous =
      !extra_tool && rest.find(forward_pattern(k_extra_tool_pattern_reversed,
                                               k_extra_tool_pattern_length)) != std::string::npos;
  if (!ambiguous) {
    if (status != k_payload_ok) {
      fuzzing::fail("a valid trailer was refused");
    }
    if (result.command_template != command) {
      fuzzing::fail("the command differs from the trailer's");
    }
    std::size_t expected_extra = extra_tool ? 1 : 0;
    if (result.extra_tool_commands.size() != expected_extra ||
        (extra_tool && result.extra_tool_commands[0] != *extra_command)) {
      fuzzing::fail("the extra tool command differs from the trailer's");
    }
    if (read_file(folders().work_dir / "archive.zip") != archive) {
      fuzzing::fail("archive.zip differs from the archive in the package");
    }
  }
  check_and_clean();
  return 0;
}
