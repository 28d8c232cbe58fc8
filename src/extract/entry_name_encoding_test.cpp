// SPDX-License-Identifier: Zlib
#include "extract/entry_name_encoding.hpp"

#include <gtest/gtest.h>

#include <string>

#include "testing/archive_builder.hpp"

namespace {

// An extended-timestamp field as zip writes it in front of the Unicode path field.
const std::string k_timestamp_field =
    extra_field_record(0x5455, std::string("\x03\x01\x02\x03\x04", 5));

const std::string k_cyrillic = "\xD0\x94\xD0\xB8\xD1\x80/\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt";
const std::string k_cjk = "\xE7\x9B\xAE\xE5\xBD\x95/\xE6\x96\x87\xE4\xBB\xB6.bin";
// "ÄÖÜ ╔═╗.txt" in CP437, and the same in UTF-8.
const std::string k_cp437 = "\x8E\x99\x9A \xC9\xCD\xBB.txt";
const std::string k_cp437_as_utf8 =
    "\xC3\x84\xC3\x96\xC3\x9C \xE2\x95\x94\xE2\x95\x90\xE2\x95\x97.txt";

TEST(EntryNameEncoding, NamesAreReadInTheCharacterSetTheEntryDeclares) {
  struct Case {
    const char* label;
    std::string stored;
    unsigned long flags;
    std::string extra;
    // The name with CP437 converted (Windows' rule), and with bytes kept (Linux' rule).
    std::string converted;
    std::string kept;
  } cases[] = {
      {"ascii", "dir/file.txt", 0, "", "dir/file.txt", "dir/file.txt"},
      {"bit 11", k_cyrillic, k_entry_flag_utf8, "", k_cyrillic, k_cyrillic},
      // Bit 11 wins over the bytes looking like CP437.
      {"bit 11 beats cp437", "\xC3\x84.txt", k_entry_flag_utf8 | 8, "", "\xC3\x84.txt",
       "\xC3\x84.txt"},
      {"unicode path field, crc matches", k_cp437, 0,
       k_timestamp_field + unicode_path_field(k_cp437, k_cjk), k_cjk, k_cjk},
      {"unicode path field, crc of another name", k_cp437, 0,
       unicode_path_field("renamed.txt", k_cjk), k_cp437_as_utf8, k_cp437},
      {"unicode path field of a version not known", k_cp437, 0,
       extra_field_record(0x7075, std::string("\x02\0\0\0\0x", 6)), k_cp437_as_utf8, k_cp437},
      {"cut extra field", k_cp437, 0, unicode_path_field(k_cp437, k_cjk).substr(0, 12),
       k_cp437_as_utf8, k_cp437},
      {"valid utf-8 without a mark", k_cjk, 0, "", k_cjk, k_cjk},
      {"valid utf-8 without a mark, other fields", k_cyrillic, 0, k_timestamp_field, k_cyrillic,
       k_cyrillic},
      {"cp437", k_cp437, 0, "", k_cp437_as_utf8, k_cp437},
      // Bytes that start a UTF-8 sequence but do not finish it are CP437 too.
      {"broken utf-8", "\xD0.txt", 0, "", "\xE2\x95\xA8.txt", "\xD0.txt"},
      {"overlong utf-8", "\xC0\xAF", 0, "", "\xE2\x94\x94\xC2\xBB", "\xC0\xAF"},
      {"surrogate in utf-8", "\xED\xA0\x80", 0, "", "\xCF\x86\xC3\xA1\xC3\x87", "\xED\xA0\x80"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decoded_entry_name(c.stored, c.flags, c.extra, LegacyNameRule::ConvertFromCp437),
              c.converted)
        << c.label;
    EXPECT_EQ(decoded_entry_name(c.stored, c.flags, c.extra, LegacyNameRule::KeepBytes), c.kept)
        << c.label;
  }
}

}  // namespace
