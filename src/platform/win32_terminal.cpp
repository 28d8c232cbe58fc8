// SPDX-License-Identifier: Zlib
// The console of the Windows platform layer: the cursor, the key prompt, standard output and
// error.

#include <conio.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/console_visibility.hpp"
#include "platform/platform.hpp"
#include "platform/win32_internal.hpp"
#include "platform/win32_paths.hpp"

namespace platform {

namespace {

// Whether the process's window station is an interactive one; a service's is not. user32 is looked
// up, not imported, and only for a console at the top left: the stub imports no more than the
// libraries it always needs. Whatever cannot be asked counts as visible, as before.
bool station_visible() {
  HMODULE user = LoadLibraryA("user32.dll");
  if (user == nullptr) {
    return true;
  }
  using GetProcessWindowStationCall = HWINSTA(WINAPI*)();
  using GetUserObjectInformationCall = BOOL(WINAPI*)(HANDLE, int, PVOID, DWORD, LPDWORD);
  auto get_station = reinterpret_cast<GetProcessWindowStationCall>(
      reinterpret_cast<void (*)()>(GetProcAddress(user, "GetProcessWindowStation")));
  auto get_information = reinterpret_cast<GetUserObjectInformationCall>(
      reinterpret_cast<void (*)()>(GetProcAddress(user, "GetUserObjectInformationA")));
  bool visible = true;
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  HWINSTA station = get_station != nullptr ? get_station() : nullptr;
  if (station != nullptr && get_information != nullptr &&
      get_information(station, UOI_FLAGS, &flags, sizeof flags, &needed)) {
    visible = (flags.dwFlags & WSF_VISIBLE) != 0;
  }
  // user32 stays loaded: once it has made the thread a GUI thread it is not unloaded safely.
  return visible;
}

// Whether the process was started with its window hidden.
bool started_hidden() {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  return (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 && startup.wShowWindow == SW_HIDE;
}

}  // namespace

ConsoleCursor query_console_cursor() {
  ConsoleCursor cursor;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
    return cursor;
  }
  cursor.is_console = true;
  cursor.row = info.dwCursorPosition.Y;
  cursor.column = info.dwCursorPosition.X;
  ConsoleFacts facts;
  facts.cursor_at_top_left = cursor.row == 0 && cursor.column == 0;
  if (facts.cursor_at_top_left) {
    facts.has_window = GetConsoleWindow() != nullptr;
    facts.station_visible = station_visible();
    facts.started_hidden = started_hidden();
    if (!console_is_fresh_and_seen(facts)) {
      // Nobody would see a key prompt, nor answer it: the console counts as one in use.
      cursor.row = -1;
      cursor.column = -1;
    }
  }
  return cursor;
}

// A console answers at once; nothing is ever late.
void drop_late_cursor_report(ConsoleCursor& cursor) { cursor.report_late = false; }

void wait_for_key() {
  // _getch would wait on through a Ctrl-C (which never reaches it as a key): the key is taken only
  // once there is one, and a termination request ends the wait.
  while (!_kbhit()) {
    int noted = 0;
    if (termination_requested(noted)) {
      return;
    }
    Sleep(20);
  }
  (void)_getch();
}

bool is_terminal(StandardStream stream) {
  DWORD mode = 0;
  return GetConsoleMode(
             GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE),
             &mode) != 0;
}

int write_standard_stream(StandardStream stream, const char* data, std::size_t size) {
  std::FILE* file = stream == StandardStream::Output ? stdout : stderr;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
    errno = 0;
    if (size > 0 && std::fwrite(data, 1, size, file) != size) {
      return errno != 0 ? errno : EIO;
    }
    return 0;
  }
  // A console takes UTF-16 whatever its output code page is, which stays the user's. What the
  // stream holds still goes first.
  std::fflush(file);
  // Line ends as the stream's text mode writes them, so the console sees what it always saw.
  std::wstring text;
  for (wchar_t c : utf8_to_utf16(std::string(data, size))) {
    if (c == L'\n') {
      text += L'\r';
    }
    text += c;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    // In pieces the console surely takes, never splitting a surrogate pair.
    std::size_t piece = text.size() - done;
    if (piece > 8192) {
      piece = 8192;
      if (text[done + piece - 1] >= 0xD800 && text[done + piece - 1] <= 0xDBFF) {
        --piece;
      }
    }
    DWORD written = 0;
    if (!WriteConsoleW(handle, text.data() + done, static_cast<DWORD>(piece), &written, nullptr) ||
        written == 0) {
      return last_errno();
    }
    done += written;
  }
  return 0;
}

}  // namespace platform
