// SPDX-License-Identifier: Zlib
#pragma once

// The character set of an entry name. ZIP names are CP437 unless the entry says otherwise: the
// UTF-8 flag (general-purpose bit 11) or Info-ZIP's Unicode path extra field (0x7075), which zip
// writes beside a name in the local character set while leaving bit 11 clear.

#include <string>

#include "common/target_platform.hpp"
#include "package/entry_rules.hpp"

// General-purpose flag bit 11: the name (and comment) are UTF-8.
inline constexpr unsigned long k_entry_flag_utf8 = 0x800;

// What becomes of a name that is neither marked as UTF-8 nor valid UTF-8: converted from CP437,
// the ZIP format's own character set, into UTF-8 (Windows, whose calls take UTF-8 here), or kept
// byte for byte (Linux, where names are bytes, as unzip keeps them).
enum class LegacyNameRule { ConvertFromCp437, KeepBytes };

// The name an entry is written under, in UTF-8 wherever the archive allows telling: `stored` as
// the archive holds it when `flags` has bit 11 set; otherwise the name of a Unicode path extra
// field in `extra_field` (the entry's extra-field bytes) whose CRC-32 matches `stored`; otherwise
// `stored` when it is valid UTF-8 (plain ASCII included); otherwise `stored` as `rule` says. A
// Unicode path field whose CRC does not match belongs to an older name and is ignored.
std::string decoded_entry_name(const std::string& stored, unsigned long flags,
                               const std::string& extra_field, LegacyNameRule rule);

// The name a stub on `target` writes an entry under: decoded_entry_name with the rule of that
// platform (Windows converts from CP437, Linux keeps the bytes).
std::string written_entry_name(const std::string& stored, unsigned long flags,
                               const std::string& extra_field, TargetPlatform target);

// Judges an entry's name for a stub on `target`: its stored name `stored` (as minizip returned
// it, NUL-terminated; `stored_length` is the length the archive records) and the name the stub
// writes, made from it with `flags` and `extra_field`, which it puts into `written` (`stored`
// when the stored name is refused already). Both must pass check_entry_name, each in its use: a
// harmless stored name may carry a Unicode path field that climbs out. The stub, the generator and
// its checks all judge names here.
EntryNameVerdict check_entry_names(const char* stored, unsigned long stored_length,
                                   unsigned long flags, const std::string& extra_field,
                                   TargetPlatform target, std::string& written);
