// SPDX-License-Identifier: Zlib
// The trailer laid out byte by byte from the layout constants, and the rule that the stub never
// holds a pattern text in forward order.

#include "package/trailer_codec.hpp"

#include <gtest/gtest.h>

#include <string>

#include "package/trailer_layout.hpp"
#include "testing/artifacts.hpp"
#include "testing/scoped_temp_dir.hpp"

namespace {

// The forward texts, spelled out here on purpose: this is a test program, not the stub.
const std::string k_version_pattern = "ZOLT_VERSION_PATT:";
const std::string k_extra_tool_pattern = "SFX_EXTRA_TOOL_PATRN:";

std::string nuls(std::size_t count) { return std::string(count, '\0'); }

TEST(PayloadLayout, PatternsAreTheReversedConstants) {
  char field[k_pattern_field_size];
  build_pattern_field(k_version_pattern_reversed, k_version_pattern_length, field);
  EXPECT_EQ(std::string(field, sizeof field), k_version_pattern + nuls(14));
  build_pattern_field(k_extra_tool_pattern_reversed, k_extra_tool_pattern_length, field);
  EXPECT_EQ(std::string(field, sizeof field), k_extra_tool_pattern + nuls(11));
  // The lengths the readers compare with: the extra-tool pattern has 21 characters and ends in
  // ':' (the first character of its reversed form).
  EXPECT_EQ(k_extra_tool_pattern_length, 21);
  EXPECT_EQ(k_extra_tool_pattern_reversed[0], ':');
  EXPECT_EQ(k_version_pattern_length, static_cast<int>(k_version_pattern.size()));
}

TEST(PayloadLayout, ReverseInPlaceSwapsOnlyTheGivenLength) {
  struct Case {
    std::string text;
    int length;
    std::string expected;
  } cases[] = {
      {"abcd", 0, "abcd"}, {"abcd", 1, "abcd"},   {"abcd", 2, "bacd"}, {"abcd", 3, "cbad"},
      {"abcd", 4, "dcba"}, {"abcde", 5, "edcba"}, {"ab", -1, "ab"},
  };
  for (Case& c : cases) {
    std::string buffer = c.text;
    reverse_in_place(buffer.data(), c.length);
    EXPECT_EQ(buffer, c.expected) << c.text << " " << c.length;
  }
}

TEST(PayloadLayout, TrailerWithoutExtraToolSection) {
  // The archive length of the worked example: 01 3A 20 B4.
  std::string expected = "run %argv%" + nuls(246) + std::string("\x01\x3A\x20\xB4", 4) +
                         k_version_pattern + nuls(14) + "2.0" + nuls(5);
  std::string trailer = encode_trailer("run %argv%", 20586676u, std::nullopt);
  ASSERT_EQ(trailer.size(), 300u);
  EXPECT_EQ(trailer, expected);
  // Every field at its distance below the trailer end T.
  std::size_t t = trailer.size();
  EXPECT_EQ(trailer.substr(t - 300, 10), "run %argv%");
  EXPECT_EQ(trailer.substr(t - 44, 4), std::string("\x01\x3A\x20\xB4", 4));
  EXPECT_EQ(trailer.substr(t - 40, 18), k_version_pattern);
  EXPECT_EQ(trailer.substr(t - 8, 4), std::string("2.0", 4));
}

TEST(PayloadLayout, TrailerWithExtraToolSection) {
  std::string trailer =
      encode_trailer(std::string(256, 'c'), 0xFFFFFFFEu, std::string("x %device%"));
  ASSERT_EQ(trailer.size(), 588u);
  std::size_t t = trailer.size();
  EXPECT_EQ(trailer.substr(t - 588, 256), std::string(256, 'c'));
  EXPECT_EQ(trailer.substr(t - 332, 4), std::string("\xFF\xFF\xFF\xFE", 4));
  EXPECT_EQ(trailer.substr(t - 328, 32), k_extra_tool_pattern + nuls(11));
  EXPECT_EQ(trailer.substr(t - 296, 256), "x %device%" + nuls(246));
  EXPECT_EQ(trailer.substr(t - 40, 32), k_version_pattern + nuls(14));
  EXPECT_EQ(trailer.substr(t - 8, 8), "2.0" + nuls(5));
}

// A plain stub must never find a trailer in itself, so neither text may occur in its image in
// forward order. The reversed texts must be there: they prove that the right file was read.
TEST(PayloadLayout, StubHoldsPatternsOnlyReversed) {
  std::string image = read_file(stub_artifact());
  ASSERT_GT(image.size(), 10000u) << stub_artifact();
  EXPECT_EQ(image.find(k_version_pattern), std::string::npos);
  EXPECT_EQ(image.find(k_extra_tool_pattern), std::string::npos);
  EXPECT_NE(image.find(k_version_pattern_reversed), std::string::npos);
  EXPECT_NE(image.find(k_extra_tool_pattern_reversed), std::string::npos);
}

}  // namespace
