// SPDX-License-Identifier: Zlib
// Where the generator finds its stubs: the installed ones below lib/ first, those an earlier
// installation left below share/ next, then a build folder's.

#include "generator/stub_location.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "testing/scoped_temp_dir.hpp"

namespace fs = std::filesystem;

namespace {

TEST(StubLocationTest, InstalledStubsBelowLibComeBeforeThoseBelowShare) {
  struct Case {
    const char* what;
    std::vector<const char*> present;  // stubs in place, below the test's folder
    TargetPlatform target;
    StubKind kind;
    const char* expected;  // the stub found; empty for none
  } cases[] = {
      {"lib", {"usr/lib/sfxkit/stubs/linux-x86_64/sfx_stub"}, TargetPlatform::Linux,
       StubKind::Plain, "usr/lib/sfxkit/stubs/linux-x86_64/sfx_stub"},
      {"share, as earlier installations have it",
       {"usr/share/sfxkit/stubs/windows-x86_64/sfx_stub.exe"}, TargetPlatform::Windows,
       StubKind::Plain, "usr/share/sfxkit/stubs/windows-x86_64/sfx_stub.exe"},
      {"both: lib wins",
       {"usr/share/sfxkit/stubs/windows-x86_64/sfx_stub_admin.exe",
        "usr/lib/sfxkit/stubs/windows-x86_64/sfx_stub_admin.exe"},
       TargetPlatform::Windows, StubKind::Administrator,
       "usr/lib/sfxkit/stubs/windows-x86_64/sfx_stub_admin.exe"},
      {"installed before the build folder's",
       {"usr/bin/sfx_stub", "usr/share/sfxkit/stubs/linux-x86_64/sfx_stub"},
       TargetPlatform::Linux, StubKind::Plain, "usr/share/sfxkit/stubs/linux-x86_64/sfx_stub"},
      {"the other platform's stub is not taken",
       {"usr/lib/sfxkit/stubs/linux-x86_64/sfx_stub"}, TargetPlatform::Windows, StubKind::Plain,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedTempDir layout;
    for (const char* stub : c.present) {
      fs::create_directories(fs::path(layout.file(stub)).parent_path());
      ASSERT_TRUE(write_file(layout.file(stub), "stub"));
    }
    std::string generator = layout.file("usr/bin/vek_fwsfx_gen");
    std::string expected = *c.expected ? fs::path(layout.file(c.expected)).lexically_normal().string()
                                       : std::string();
    EXPECT_EQ(find_stub(generator, c.target, c.kind), expected);
    if (!expected.empty()) {
      std::vector<std::string> candidates = stub_candidates(generator, c.target, c.kind);
      EXPECT_NE(std::find(candidates.begin(), candidates.end(), expected), candidates.end());
    }
  }
}

}  // namespace
