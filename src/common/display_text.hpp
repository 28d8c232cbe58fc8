// SPDX-License-Identifier: Zlib
#pragma once

// Text read from a package or an archive (entry names, the command template, the layout version),
// made safe to print: it must not move the cursor, recolour or retitle the terminal, or hide
// what comes before it.

#include <string>
#include <string_view>

// `text` with every control character written as "\x" and two lowercase hex digits: C0 (bytes
// below 0x20), DEL (0x7f), a C1 control in UTF-8 (U+0080 to U+009F, both of its bytes: "\xc2\x9b")
// and a byte 0x80 to 0x9F outside a well-formed UTF-8 character (0x9b is CSI to an 8-bit
// terminal). Every other byte, the bytes of other UTF-8 characters included, stays as it is.
std::string display_text(std::string_view text);
