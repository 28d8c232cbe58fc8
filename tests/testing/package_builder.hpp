// SPDX-License-Identifier: Zlib
#pragma once

// Test packages, built with the generator's own writer.
//
// Typical use:
//   ScopedTempDir dir;
//   ASSERT_TRUE(write_file(dir.file("payload/tool.sh"), "echo hi\n"));   // after making payload/
//   ASSERT_TRUE(build_package(stub_artifact(), dir.file("payload"), "tool.sh %argv%", std::nullopt,
//                             dir.file("package")));
//
// Packages the generator would refuse (bad layout version, odd archive lengths, bytes after the
// trailer) are put together by hand:
//   RawTrailer trailer;
//   trailer.layout_version = std::string("1.0", 3);
//   trailer.archive_length = 0;
//   ASSERT_TRUE(write_file(path, read_file(stub_artifact()) + archive_bytes +
//   make_trailer(trailer))); ASSERT_TRUE(append_bytes(path, "12345"));
//
// Every function that can fail reports the reason as a test failure (ADD_FAILURE) and returns
// false, so callers just ASSERT_TRUE it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Writes the package `out_path`, exactly as `vek_fwsfx_gen --dir` makes it: a copy of
// `stub_path`, an archive of everything below `folder`, and a trailer holding `command_template`
// and, when set, `extra_tool_command`.
bool build_package(const std::string& stub_path, const std::string& folder,
                   const std::string& command_template,
                   const std::optional<std::string>& extra_tool_command,
                   const std::string& out_path);

// The same with the ZIP file `zip_path` appended unchanged (`vek_fwsfx_gen --zip`); with
// testing/archive_builder's write_archive this puts any entry names and attributes into a package.
bool build_package_from_zip(const std::string& stub_path, const std::string& zip_path,
                            const std::string& command_template,
                            const std::optional<std::string>& extra_tool_command,
                            const std::string& out_path);

// The same put together by hand, without the generator's checks: for archives that the generator
// refuses because the stub would refuse them (names that climb out, encrypted entries, ...).
bool assemble_package(const std::string& stub_path, const std::string& zip_path,
                      const std::string& command_template,
                      const std::optional<std::string>& extra_tool_command,
                      const std::string& out_path);

// The fields of a hand-made trailer; the defaults make a sound one for an empty archive without
// an extra tool section. Each field is cut or NUL-padded to its width.
struct RawTrailer {
  // 256 bytes.
  std::string command_template = "tool";
  std::uint32_t archive_length = 0;
  // When set, an extra tool section with this pattern field (32 bytes) and command (256 bytes).
  std::optional<std::string> extra_tool_command;
  std::string extra_tool_pattern_field = extra_tool_pattern_text();
  // 32 bytes.
  std::string version_pattern_field = version_pattern_text();
  // 8 bytes.
  std::string layout_version = "2.0";

  // The forward pattern texts, without NUL.
  static std::string version_pattern_text();
  static std::string extra_tool_pattern_text();
};

// The trailer's bytes, 300 long, or 588 with the extra tool section.
std::string make_trailer(const RawTrailer& trailer);

// The trailer the generator writes for these values.
std::string make_trailer(const std::string& command_template, std::uint32_t archive_length,
                         const std::optional<std::string>& extra_tool_command = std::nullopt);

// Appends `bytes` to the file `path`.
bool append_bytes(const std::string& path, const std::string& bytes);
