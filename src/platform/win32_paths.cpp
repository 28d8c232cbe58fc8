// SPDX-License-Identifier: Zlib
// Text and path conversions of the Windows platform layer.

#include <windows.h>

#include <cwchar>
#include <string>

#include "platform/win32_paths.hpp"
#include "platform/win32_internal.hpp"

namespace platform {

namespace {

bool starts_with(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

}  // namespace

std::wstring utf8_to_utf16(const std::string& text) {
  if (text.empty()) {
    return std::wstring();
  }
  int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) {
    return std::wstring();
  }
  std::wstring out(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], length);
  return out;
}

int extended_length_path(const std::string& path, std::wstring& out) {
  std::wstring wide = utf8_to_utf16(path);
  if (wide.empty()) {
    return ENOENT;
  }
  if (starts_with(wide, L"\\\\?\\")) {
    out = wide;
    return 0;
  }
  DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) {
    return last_errno();
  }
  std::wstring full(needed, L'\0');
  DWORD length = GetFullPathNameW(wide.c_str(), needed, &full[0], nullptr);
  if (length == 0) {
    return last_errno();
  }
  if (length >= needed) {
    return ENAMETOOLONG;
  }
  full.resize(length);
  if (starts_with(full, L"\\\\.\\")) {
    out = full;
  } else if (starts_with(full, L"\\\\")) {
    out = L"\\\\?\\UNC\\" + full.substr(2);
  } else {
    out = L"\\\\?\\" + full;
  }
  return 0;
}

}  // namespace platform
