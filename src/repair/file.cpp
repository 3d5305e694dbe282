// SPDX-License-Identifier: MIT
#include "repair/file.h"

#include <cerrno>

namespace wavmend {

std::int64_t ReadAt(int fd, unsigned char* buf, std::int64_t count, std::int64_t offset) {
  std::int64_t got = 0;
  while (got < count) {
    const ssize_t n = ::pread(fd, buf + got, static_cast<std::size_t>(count - got), offset + got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += n;
  }
  return got;
}

std::size_t WriteAt(int fd, std::span<const unsigned char> buf, std::int64_t offset) {
  std::size_t done = 0;
  while (done < buf.size()) {
    ssize_t n = ::pwrite(fd, buf.data() + done, buf.size() - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace wavmend
