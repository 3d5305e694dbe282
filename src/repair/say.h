// SPDX-License-Identifier: MIT
// Lines on standard output that name a file.
#pragma once

namespace wavmend {

// Prints `format` on standard output with its one "%s", if any, replaced by `name`. Each byte of `name` below
// 0x20, and 0x7F, is printed as a backslash and three octal digits, as `ls -b` does (\012 for a newline, \033 for
// ESC); every other byte, UTF-8 included, is printed as it is.
void Say(const char* format, const char* name);

}  // namespace wavmend
