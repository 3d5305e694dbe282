// SPDX-License-Identifier: MIT
#include "cli/batch.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/usage.h"
#include "repair/file.h"
#include "repair/repair.h"
#include "repair/say.h"

namespace wavmend {
namespace {

constexpr int kMaxNames = 512;
constexpr int kWidth = 256;

[[noreturn]] void Fail(const char* format, const char* path) {
  Say(format, path);
  std::exit(1);
}

// Whether `buf` starts as a recording does: a shell glob that matched two of them names one as the list.
bool Recording(const char* buf, ssize_t n) {
  if (n < 12 || std::memcmp(buf + 8, "WAVE", 4) != 0) return false;
  return std::memcmp(buf, "RIFF", 4) == 0 || std::memcmp(buf, "RF64", 4) == 0 || std::memcmp(buf, "BW64", 4) == 0;
}

}  // namespace

int ReadList(char* names, const char* path, int max, int width) {
  File list(::open(path, O_RDONLY | O_CLOEXEC));
  if (!list) Fail("List called %s does not exist\n", path);
  int count = 0;
  long len = 0;  // bytes of the name being read, also past the slot's width
  // A name ends at LF, at a zero byte or at the end of the list; an over-long one leaves its slot empty.
  auto finish = [&] {
    char* slot = names + static_cast<long>(count) * width;
    slot[len < width ? len : 0] = '\0';
    ++count;
    len = 0;
  };
  static char buf[65536];  // off the stack, which may be small
  bool ended = false;
  bool first = true;
  while (!ended && count < max) {
    const ssize_t n = ::read(list.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      list.close();
      Fail("List called %s cannot be read\n", path);
    }
    if (n == 0) break;
    if (first && Recording(buf, n)) {
      list.close();
      std::exit(Usage());
    }
    first = false;
    for (ssize_t i = 0; i < n && count < max; ++i) {
      if (buf[i] == '\0') {
        ended = true;
        break;
      }
      if (buf[i] != '\n') {
        if (len < width) names[static_cast<long>(count) * width + len] = buf[i];
        ++len;
      } else if (len > 0) {
        finish();
      }
    }
  }
  if (len > 0 && count < max) finish();
  return count;
}

int Batch(const char* list, const char* prefix) {
  // One write per line, so each file's outcome is out as soon as it is known.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  static char names[kMaxNames][kWidth];
  const int n = ReadList(names[0], list, kMaxNames, kWidth);
  std::printf("Read a list containing %i files\n", n);
  if (n == 0) return 1;
  char path[kWidth];
  for (int k = 0; k < n; ++k) {
    // A shortened path could name another file, so an over-long one is skipped whole.
    const int len = std::snprintf(path, sizeof path, "%s%s", prefix, names[k]);
    if (names[k][0] == '\0' || len < 0 || len >= kWidth) {
      std::printf("Path for name %i of the list is longer than 255 bytes; skipped.\n", k + 1);
      continue;
    }
    FIX_SIZE(path);
  }
  return 0;
}

}  // namespace wavmend
