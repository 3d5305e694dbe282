// SPDX-License-Identifier: MIT
// Lines on standard output that name a file.
#pragma once

namespace wavmend {

// Prints `format` on standard output with its one "%s", if any, replaced by `name`, so that no two names print
// alike and none sends a control to the terminal: a backslash prints as "\\"; each byte below 0x20, 0x7F, each
// byte outside a well-formed UTF-8 sequence, and each byte of an encoded C1 control (U+0080 to U+009F) prints
// as a backslash and three octal digits; every other byte, well-formed UTF-8 included, prints as it is.
void Say(const char* format, const char* name);

}  // namespace wavmend
