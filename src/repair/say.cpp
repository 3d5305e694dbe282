// SPDX-License-Identifier: MIT
#include "repair/say.h"

#include <cstdio>
#include <cstring>

namespace wavmend {
namespace {

// Returns how many bytes the well-formed UTF-8 sequence at `p` spans (no overlong form, no surrogate, nothing
// past U+10FFFF), or 0 when none starts there. Stops at the first byte out of range, so never passes a zero.
int Sequence(const unsigned char* p) {
  const unsigned char lead = p[0];
  if (lead < 0x80) return 1;
  unsigned char low = 0x80;  // the second byte's range, narrowed where the lead alone would allow bad forms
  unsigned char high = 0xBF;
  int n = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    low = lead == 0xE0 ? 0xA0 : low;
    high = lead == 0xED ? 0x9F : high;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    low = lead == 0xF0 ? 0x90 : low;
    high = lead == 0xF4 ? 0x8F : high;
  } else {
    return 0;
  }
  if (p[1] < low || p[1] > high) return 0;
  for (int i = 2; i < n; ++i) {
    if (p[i] < 0x80 || p[i] > 0xBF) return 0;
  }
  return n;
}

}  // namespace

void Say(const char* format, const char* name) {
  const char* slot = std::strstr(format, "%s");
  if (slot == nullptr) {
    std::fputs(format, stdout);
    return;
  }
  std::fwrite(format, 1, static_cast<std::size_t>(slot - format), stdout);
  // Names come from other people's folders and lists: a newline would forge a line, ESC or CSI a terminal
  // command, and a backslash left as it is would let one name print as another's escape.
  const auto* p = reinterpret_cast<const unsigned char*>(name);
  while (*p != '\0') {
    const int n = Sequence(p);
    const bool control = n == 1 ? *p < 0x20 || *p == 0x7F : n == 2 && p[0] == 0xC2 && p[1] < 0xA0;
    if (n == 0 || control) {
      for (const unsigned char* end = p + (n == 0 ? 1 : n); p < end; ++p) std::printf("\\%03o", *p);
    } else if (*p == '\\') {
      std::fputs("\\\\", stdout);
      ++p;
    } else {
      std::fwrite(p, 1, static_cast<std::size_t>(n), stdout);
      p += n;
    }
  }
  std::fputs(slot + 2, stdout);
}

}  // namespace wavmend
