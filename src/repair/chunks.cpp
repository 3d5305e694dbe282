#include "repair/chunks.h"

#include <algorithm>
#include <span>

#include "repair/file.h"
#include "repair/repair.h"

namespace wavmend {
namespace {

bool Printable(const unsigned char* id) {
  return std::all_of(id, id + 4, [](unsigned char c) { return c >= 0x20 && c <= 0x7E; });
}

}  // namespace

Trailer WalkChunks(int fd, std::int64_t pos, std::int64_t end, unsigned char* buf, std::int64_t have) {
  std::int64_t at = 0;  // the file offset of buf[0]
  for (int chunks = 0;; ++chunks) {
    if (pos == end) return Trailer::kChunks;
    if (chunks == kMaxTrailingChunks || end - pos < 8) return Trailer::kOther;
    if (pos + 8 > at + have) {
      have = ReadAt(fd, buf, std::min(kFirstBlock, end - pos), pos);
      if (have < 0) return Trailer::kReadError;
      if (have < 8) return Trailer::kOther;  // the file shrank under us
      at = pos;
    }
    const unsigned char* head = buf + (pos - at);
    if (!Printable(head)) return Trailer::kOther;
    const std::int64_t size = Assem4(std::span<const unsigned char, 4>(head + 4, 4));
    pos += 8 + size;
    if (pos > end) return Trailer::kOther;
    if (size % 2 == 1 && pos < end) ++pos;
  }
}

}  // namespace wavmend
