// SPDX-License-Identifier: Zlib
#pragma once

// UTF-8 as entry names and package texts carry it: which bytes form whole characters.

#include <cstddef>
#include <string_view>

// The length (2 to 4) of the well-formed multi-byte UTF-8 character that starts at `at` in `text`
// (no overlong form, no surrogate, nothing above U+10FFFF); 0 when the byte there is ASCII, a
// stray continuation byte or the start of a broken or cut sequence.
std::size_t utf8_sequence_length(std::string_view text, std::size_t at);

// Whether `text` is well-formed UTF-8 throughout (plain ASCII is).
bool is_valid_utf8(std::string_view text);
