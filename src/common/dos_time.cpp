// SPDX-License-Identifier: Zlib
#include "common/dos_time.hpp"

std::tm dos_date_time_fields(std::uint32_t dos_date_time) {
  std::tm fields{};
  fields.tm_year = static_cast<int>((dos_date_time >> 25) & 0x7f) + 80;
  fields.tm_mon = static_cast<int>((dos_date_time >> 21) & 0x0f) - 1;
  fields.tm_mday = static_cast<int>((dos_date_time >> 16) & 0x1f);
  fields.tm_hour = static_cast<int>((dos_date_time >> 11) & 0x1f);
  fields.tm_min = static_cast<int>((dos_date_time >> 5) & 0x3f);
  fields.tm_sec = static_cast<int>((dos_date_time & 0x1f) * 2);
  fields.tm_isdst = -1;
  return fields;
}

std::int64_t dos_date_time_to_local_seconds(std::uint32_t dos_date_time) {
  std::tm fields = dos_date_time_fields(dos_date_time);
  return static_cast<std::int64_t>(std::mktime(&fields));
}

namespace {

std::uint32_t from_fields(const std::tm* fields) {
  if (fields == nullptr || fields->tm_year < 80) {
    return k_earliest_dos_date_time;
  }
  if (fields->tm_year > 207) {
    return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
  }
  return (static_cast<std::uint32_t>(fields->tm_year - 80) << 25) |
         (static_cast<std::uint32_t>(fields->tm_mon + 1) << 21) |
         (static_cast<std::uint32_t>(fields->tm_mday) << 16) |
         (static_cast<std::uint32_t>(fields->tm_hour) << 11) |
         (static_cast<std::uint32_t>(fields->tm_min) << 5) |
         static_cast<std::uint32_t>(fields->tm_sec / 2);
}

}  // namespace

std::uint32_t dos_date_time_from_unix(long long unix_seconds) {
  std::time_t time = static_cast<std::time_t>(unix_seconds);
  return from_fields(std::localtime(&time));
}

std::uint32_t dos_date_time_from_utc(long long unix_seconds) {
  std::time_t time = static_cast<std::time_t>(unix_seconds);
  return from_fields(std::gmtime(&time));
}
