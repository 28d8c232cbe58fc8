// SPDX-License-Identifier: Zlib
#pragma once

// DOS dates and times as ZIP archives store them: the date in the high 16 bits (years since
// 1980, month, day), the time in the low 16 bits (hours, minutes, seconds / 2).

#include <cstdint>
#include <ctime>

// The calendar fields of `dos_date_time`, with tm_isdst -1 so that mktime reads them as local
// time.
std::tm dos_date_time_fields(std::uint32_t dos_date_time);

// `dos_date_time` read as local time, in seconds since 1970; -1 when it cannot be represented.
std::int64_t dos_date_time_to_local_seconds(std::uint32_t dos_date_time);

// 1 January 1980, 00:00:00: the earliest time a DOS date and time can hold.
inline constexpr std::uint32_t k_earliest_dos_date_time = (1u << 21) | (1u << 16);

// `unix_seconds` as a DOS date and time in local time; times before 1980 become 1 January 1980,
// times after 2107 the last second of 2107.
std::uint32_t dos_date_time_from_unix(long long unix_seconds);

// The same in UTC, whatever the local time zone: the same instant always gives the same fields.
std::uint32_t dos_date_time_from_utc(long long unix_seconds);
