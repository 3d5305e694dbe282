// SPDX-License-Identifier: MIT
// A move-only owner of a POSIX file descriptor, and whole reads and writes at an offset.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <span>
#include <utility>

namespace wavmend {

static_assert(sizeof(off_t) == 8, "offsets must hold 64 bits: build with _FILE_OFFSET_BITS=64");

class File {
 public:
  File() noexcept = default;
  // Takes ownership of `fd`; a negative value makes an empty File.
  explicit File(int fd) noexcept : fd_(fd) {}
  File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  File& operator=(File&&) = delete;
  // Closes the descriptor, ignoring errors: callers that care use close().
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }

  // Returns the descriptor, or -1 when empty.
  int get() const noexcept { return fd_; }
  explicit operator bool() const noexcept { return fd_ >= 0; }

  // Closes the descriptor and returns false if close reported an error; an empty File returns true.
  // The descriptor is released either way, since Linux frees it even when close fails.
  bool close() noexcept {
    int fd = std::exchange(fd_, -1);
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_ = -1;
};

// Reads `count` bytes at `offset` into `buf`, fewer where the file ends; returns the count, or -1 on an error.
std::int64_t ReadAt(int fd, unsigned char* buf, std::int64_t count, std::int64_t offset);

// Writes `buf` at `offset`; returns how many bytes were written before the first error.
std::size_t WriteAt(int fd, std::span<const unsigned char> buf, std::int64_t offset);

}  // namespace wavmend
