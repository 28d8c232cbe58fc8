// SPDX-License-Identifier: Zlib
#pragma once

// The words /bin/sh makes of a command line that it would take literally, so that such a line can
// be run without starting a shell for it.

#include <string>
#include <vector>

// Sets `words` to the words of `line` and returns true when /bin/sh would read `line` as one
// simple command without any expansion: words separated by blanks, each made of double-quoted
// parts without '$', '`', '\' or '"', single-quoted parts, and unquoted letters, digits and
// "%+,-./:=@_"; the first word names the program by a path (it holds a '/') and holds no '='
// (which could make it an assignment). Returns false for any other line, which the shell must
// read itself.
bool literal_shell_words(const std::string& line, std::vector<std::string>& words);
