// SPDX-License-Identifier: MIT
#include "repair/say.h"

#include <cstdio>
#include <cstring>

namespace wavmend {

void Say(const char* format, const char* name) {
  const char* slot = std::strstr(format, "%s");
  if (slot == nullptr) {
    std::fputs(format, stdout);
    return;
  }
  std::fwrite(format, 1, static_cast<std::size_t>(slot - format), stdout);
  // Names come from other people's folders and lists: a newline would forge a line, ESC a terminal command.
  for (const char* p = name; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == 0x7F) {
      std::printf("\\%03o", c);
    } else {
      std::putchar(c);
    }
  }
  std::fputs(slot + 2, stdout);
}

}  // namespace wavmend
