// SPDX-License-Identifier: Zlib
// The console of the Windows platform layer: the cursor, the key prompt, standard output and
// error.

#include <windows.h>
#include <conio.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/platform.hpp"
#include "platform/win32_internal.hpp"
#include "platform/win32_paths.hpp"

namespace platform {

ConsoleCursor query_console_cursor() {
  ConsoleCursor cursor;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
    return cursor;
  }
  cursor.is_console = true;
  cursor.row = info.dwCursorPosition.Y;
  cursor.column = info.dwCursorPosition.X;
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
