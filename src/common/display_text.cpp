// SPDX-License-Identifier: Zlib
#include "common/display_text.hpp"

#include "common/utf8_text.hpp"

namespace {

void append_escaped(std::string& shown, unsigned char byte) {
  static const char k_hex[] = "0123456789abcdef";
  shown += "\\x";
  shown += k_hex[byte >> 4];
  shown += k_hex[byte & 0xf];
}

}  // namespace

std::string display_text(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    unsigned char byte = static_cast<unsigned char>(text[at]);
    std::size_t length = byte < 0x80 ? 1 : utf8_sequence_length(text, at);
    if (length == 0) {
      // A byte outside any character: C1 from 0x80 to 0x9F on an 8-bit terminal.
      if (byte <= 0x9F) {
        append_escaped(shown, byte);
      } else {
        shown += static_cast<char>(byte);
      }
      ++at;
      continue;
    }
    bool c1_control =
        length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F;
    if (byte < 0x20 || byte == 0x7f || c1_control) {
      for (std::size_t k = 0; k < length; ++k) {
        append_escaped(shown, static_cast<unsigned char>(text[at + k]));
      }
    } else {
      shown.append(text, at, length);
    }
    at += length;
  }
  return shown;
}
