#pragma once

// Tagged output. Every "-E- " and "-I- " line of the stub goes through here, so one place owns
// the tag, the stream and the flushing. `format` is printf-style; the caller writes the line end.

#if defined(__GNUC__)
#define SFX_PRINTF_FORMAT(a, b) __attribute__((format(printf, a, b)))
#else
#define SFX_PRINTF_FORMAT(a, b)
#endif

// Writes "-E- " and the formatted text to standard error.
void print_error(const char* format, ...) SFX_PRINTF_FORMAT(1, 2);

// Writes "-I- " and the formatted text to standard output.
void print_info(const char* format, ...) SFX_PRINTF_FORMAT(1, 2);

// Writes the formatted text, untagged, to standard output.
void print_plain(const char* format, ...) SFX_PRINTF_FORMAT(1, 2);
