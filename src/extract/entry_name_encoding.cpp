// SPDX-License-Identifier: Zlib
#include "extract/entry_name_encoding.hpp"

#include <zlib.h>

#include <cstddef>
#include <cstdint>

#include "common/little_endian.hpp"
#include "common/utf8_text.hpp"

namespace {

constexpr unsigned k_unicode_path_field = 0x7075;
constexpr unsigned k_unicode_path_version = 1;

// CP437's characters 0x80 to 0xFF.
constexpr std::uint16_t k_cp437_high[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  //
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  //
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  //
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  //
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  //
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  //
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  //
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  //
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  //
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  //
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  //
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  //
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  //
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  //
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  //
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  //
};

unsigned byte_at(const std::string& text, std::size_t at) {
  return static_cast<unsigned char>(text[at]);
}

void append_utf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string cp437_to_utf8(const std::string& text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned byte = byte_at(text, i);
    append_utf8(out, byte < 0x80 ? byte : k_cp437_high[byte - 0x80]);
  }
  return out;
}

// The name of a version-1 Unicode path field in `extra_field` that was made from `stored` (its
// CRC-32 matches), into `name`. Returns false when there is none or it belongs to another name.
bool unicode_path_name(const std::string& stored, const std::string& extra_field,
                       std::string& name) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(extra_field.data());
  std::size_t at = 0;
  while (extra_field.size() - at >= 4) {
    std::uint64_t id = read_little_endian(bytes + at, 2);
    std::size_t size = static_cast<std::size_t>(read_little_endian(bytes + at + 2, 2));
    at += 4;
    if (size > extra_field.size() - at) {
      return false;
    }
    if (id == k_unicode_path_field && size >= 5 &&
        byte_at(extra_field, at) == k_unicode_path_version) {
      uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(stored.data()),
                        static_cast<uInt>(stored.size()));
      if (read_little_endian(bytes + at + 1, 4) != static_cast<std::uint32_t>(crc)) {
        return false;
      }
      name = extra_field.substr(at + 5, size - 5);
      return true;
    }
    at += size;
  }
  return false;
}

}  // namespace

std::string decoded_entry_name(const std::string& stored, unsigned long flags,
                               const std::string& extra_field, LegacyNameRule rule) {
  if ((flags & k_entry_flag_utf8) != 0) {
    return stored;
  }
  std::string name;
  if (unicode_path_name(stored, extra_field, name)) {
    return name;
  }
  if (is_valid_utf8(stored) || rule == LegacyNameRule::KeepBytes) {
    return stored;
  }
  return cp437_to_utf8(stored);
}

std::string written_entry_name(const std::string& stored, unsigned long flags,
                               const std::string& extra_field, TargetPlatform target) {
  return decoded_entry_name(stored, flags, extra_field,
                            target == TargetPlatform::Windows ? LegacyNameRule::ConvertFromCp437
                                                              : LegacyNameRule::KeepBytes);
}

EntryNameVerdict check_entry_names(const char* stored, unsigned long stored_length,
                                   unsigned long flags, const std::string& extra_field,
                                   TargetPlatform target, std::string& written) {
  written = stored;
  EntryNameVerdict verdict = check_entry_name(stored, stored_length, target, EntryNameUse::Stored);
  if (verdict != EntryNameVerdict::Accepted) {
    return verdict;
  }
  written = written_entry_name(stored, flags, extra_field, target);
  return check_entry_name(written.c_str(), static_cast<unsigned long>(written.size()), target);
}
