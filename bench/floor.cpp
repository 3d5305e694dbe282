// SPDX-License-Identifier: MIT
// The floor for a batch: look at each listed file, open it, read the bytes a checker must read in one call, close
// it. A checker that must never open a FIFO or a device, even when the path changes under it, looks through an
// O_PATH descriptor first and opens the file it saw through /proc, so the floor does too.
// Usage: floor LIST PREFIX BYTES
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char* argv[]) {
  if (argc != 4) return 2;
  std::FILE* list = std::fopen(argv[1], "r");
  if (list == nullptr) return 1;
  const auto want = static_cast<std::size_t>(std::atol(argv[3]));
  static char buf[131080];
  char name[256], path[512];
  while (std::fgets(name, sizeof name, list) != nullptr) {
    name[std::strcspn(name, "\n")] = '\0';
    std::snprintf(path, sizeof path, "%s%s", argv[2], name);
    struct stat st;
    const int look = ::open(path, O_PATH | O_CLOEXEC);
    if (look < 0 || ::fstat(look, &st) != 0) return 1;
    char again[32];
    std::snprintf(again, sizeof again, "/proc/self/fd/%d", look);
    const int fd = ::open(again, O_RDONLY | O_CLOEXEC);
    ::close(look);
    if (fd < 0 || ::read(fd, buf, want) < 0) return 1;
    ::close(fd);
  }
  std::fclose(list);
  return 0;
}
