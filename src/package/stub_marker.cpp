// SPDX-License-Identifier: Zlib
#include "package/stub_marker.hpp"

#include <algorithm>
#include <cstring>

namespace {

// The text of a field up to its first NUL.
std::string field_text(const char* field, int width) {
  return std::string(field, std::find(field, field + width, '\0'));
}

bool is_printable_text(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7f;
  });
}

}  // namespace

std::string stub_marker_prefix() {
  // Read through a volatile pointer, so that the compiler cannot fold the reversal and place the
  // forward text among the generator's constants.
  const volatile char* source = k_stub_marker_prefix_reversed;
  std::string prefix(static_cast<std::size_t>(k_stub_marker_prefix_length), '\0');
  for (int i = 0; i < k_stub_marker_prefix_length; ++i) {
    prefix[static_cast<std::size_t>(k_stub_marker_prefix_length - 1 - i)] = source[i];
  }
  return prefix;
}

std::optional<StubMarker> decode_stub_marker(const char* bytes, std::size_t size) {
  if (size < static_cast<std::size_t>(k_stub_marker_size) ||
      std::memcmp(bytes, stub_marker_prefix().data(), k_stub_marker_prefix_length) != 0) {
    return std::nullopt;
  }
  const char* field = bytes + k_stub_marker_prefix_length;
  std::string platform = field_text(field, k_stub_marker_platform_size);
  field += k_stub_marker_platform_size;
  std::string level = field_text(field, k_stub_marker_level_size);
  field += k_stub_marker_level_size;
  StubMarker marker;
  marker.version = field_text(field, k_stub_marker_version_size);
  field += k_stub_marker_version_size;
  marker.revision = field_text(field, k_stub_marker_revision_size);
  if (platform != k_stub_platform_linux && platform != k_stub_platform_windows) {
    return std::nullopt;
  }
  if (level != k_stub_level_plain && level != k_stub_level_elevated) {
    return std::nullopt;
  }
  if (!is_printable_text(marker.version) || !is_printable_text(marker.revision)) {
    return std::nullopt;
  }
  marker.platform =
      platform == k_stub_platform_linux ? TargetPlatform::Linux : TargetPlatform::Windows;
  marker.level = level == k_stub_level_plain ? StubLevel::Plain : StubLevel::Elevated;
  return marker;
}

std::string encode_stub_marker(const StubMarker& marker) {
  std::string bytes = stub_marker_prefix();
  auto put = [&bytes](const std::string& text, int width) {
    std::string field = text.substr(0, static_cast<std::size_t>(width));
    field.resize(static_cast<std::size_t>(width), '\0');
    bytes += field;
  };
  put(stub_platform_text(marker.platform), k_stub_marker_platform_size);
  put(stub_level_text(marker.level), k_stub_marker_level_size);
  put(marker.version, k_stub_marker_version_size);
  put(marker.revision, k_stub_marker_revision_size);
  return bytes;
}

const char* stub_platform_text(TargetPlatform platform) {
  return platform == TargetPlatform::Linux ? k_stub_platform_linux : k_stub_platform_windows;
}

const char* stub_level_text(StubLevel level) {
  return level == StubLevel::Plain ? k_stub_level_plain : k_stub_level_elevated;
}
