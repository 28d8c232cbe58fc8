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
