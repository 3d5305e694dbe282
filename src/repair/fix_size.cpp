#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// WAVMEND_PORTABLE_SCAN builds only the scan that every processor runs, so that tests can reach it.
#if defined(__x86_64__) && __has_include(<sys/platform/x86.h>) && !defined(WAVMEND_PORTABLE_SCAN)
#include <sys/platform/x86.h>
#define WAVMEND_X86_FEATURES 1
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "repair/file.h"
#include "repair/repair.h"

namespace wavmend {
namespace {

constexpr std::int64_t kLastProbe = 131072;
// Reaches the size field of a tag at the last probe.
constexpr std::int64_t kWindow = kLastProbe + 8;
// Holds the tag of nearly every real file, so most files cost one read.
constexpr std::int64_t kFirstBlock = 4096;
constexpr std::int64_t kFieldMax = 0xFFFFFFFF;
constexpr int kMaxTrailingChunks = 64;
constexpr std::size_t kScanBlock = 512;

enum class Verdict { kCannotOpen, kNoTag, kCutShort, kReadError, kCorrect, kFixed, kWriteError };
enum class Trailer { kChunks, kOther, kReadError };

// Opens `path` for update if it is a regular file and sets `length`; otherwise returns an empty File.
// O_NONBLOCK keeps the open of a FIFO or device from stalling; such files are closed unread.
File OpenRegular(const char* path, std::int64_t& length) {
  File file(::open(path, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st {};
  if (!file || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return File();
  length = st.st_size;
  return file;
}

// Reads `count` bytes at `offset` into `buf`, fewer where the file ends; returns the count, or -1 on an error.
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

// Writes `buf` at `offset`; returns how many bytes were written before the first error.
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

using Lanes16 = std::uint16_t __attribute__((vector_size(16)));
using Lanes32 = std::uint16_t __attribute__((vector_size(32)));

// Returns the first even offset from 2 to 131,072 at which "data" lies wholly inside `buf`, or -1.
// Each block of kScanBlock bytes is first swept, branch-free and in the vector `Lanes`, for "da" at an
// even position; only the rare block of audio that has one is then walked offset by offset.
template <typename Lanes>
[[gnu::always_inline]] inline std::int64_t FindTagIn(std::span<const unsigned char> buf) {
  constexpr std::size_t kLaneBytes = sizeof(Lanes);
  std::uint16_t da;
  std::memcpy(&da, "da", 2);
  const Lanes want = Lanes{} + da;
  const std::size_t end = std::min<std::size_t>(buf.size(), kLastProbe + 4);
  for (std::size_t start = 2; start + 4 <= end; start += kScanBlock) {
    const std::size_t stop = std::min(start + kScanBlock, end - 3);  // the offsets tried in this block
    if (stop - start == kScanBlock) {
      Lanes seen{};
      for (std::size_t i = 0; i < kScanBlock; i += kLaneBytes) {
        Lanes lanes;
        std::memcpy(&lanes, buf.data() + start + i, kLaneBytes);
        seen |= reinterpret_cast<Lanes>(lanes == want);
      }
      std::uint64_t words[kLaneBytes / 8], any = 0;
      std::memcpy(words, &seen, kLaneBytes);
      for (std::uint64_t word : words) any |= word;
      if (any == 0) continue;
    }
    for (std::size_t h = start; h < stop; h += 2) {
      if (std::memcmp(buf.data() + h, "data", 4) == 0) return static_cast<std::int64_t>(h);
    }
  }
  return -1;
}

#if WAVMEND_X86_FEATURES
[[gnu::target("avx2")]] std::int64_t FindTagAvx2(std::span<const unsigned char> buf) { return FindTagIn<Lanes32>(buf); }
// Read from what the C library found at start-up: asking the processor again costs more than a batch's scan
// on a virtual machine. Set before main, so no guarded static, and no libstdc++, is needed.
const bool kHasAvx2 = CPU_FEATURE_ACTIVE(AVX2);
#endif

std::int64_t FindTag(std::span<const unsigned char> buf) {
#if WAVMEND_X86_FEATURES
  // Scanning a window without the tag costs about as much as reading it; wider lanes cut that by a third.
  if (kHasAvx2) return FindTagAvx2(buf);
#endif
  return FindTagIn<Lanes16>(buf);
}

bool Printable(const unsigned char* id) {
  return std::all_of(id, id + 4, [](unsigned char c) { return c >= 0x20 && c <= 0x7E; });
}

// Tells whether [pos, end) is a run of at most 64 well-formed chunks, the last one's pad byte optional.
// `buf` starts out holding the first `have` bytes of the file; where the walk leaves them, a block is read
// at the next chunk, which holds the headers of the small chunks that usually follow.
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

Verdict Mend(const char* path) {
  std::int64_t length = 0;
  File file = OpenRegular(path, length);
  if (!file) return Verdict::kCannotOpen;
  const int fd = file.get();

  std::array<unsigned char, kWindow> window;
  const std::int64_t want = std::min(length, kWindow);
  std::int64_t got = ReadAt(fd, window.data(), std::min(want, kFirstBlock), 0);
  if (got < 0) return Verdict::kReadError;
  std::int64_t h = FindTag({window.data(), static_cast<std::size_t>(got)});
  // Only when the tag or its size field lies past the first block is the rest of the window read.
  if ((h < 0 || h + 8 > got) && got < want) {
    const std::int64_t more = ReadAt(fd, window.data() + got, want - got, got);
    if (more < 0) return Verdict::kReadError;
    got += more;
    h = FindTag({window.data(), static_cast<std::size_t>(got)});
  }
  if (h < 0) return Verdict::kNoTag;
  const std::int64_t header = h + 8;
  if (header > got) return Verdict::kCutShort;

  std::array<unsigned char, 4> oldDsize_ch;
  std::copy_n(window.begin() + h + 4, 4, oldDsize_ch.begin());
  const std::int64_t oldDsize = Assem4(oldDsize_ch);
  const std::int64_t actual = length - header;
  // A length the field cannot hold is recorded as the largest it can.
  const std::int64_t target = std::min(actual, kFieldMax);
  if (oldDsize == target) return Verdict::kCorrect;
  if (oldDsize < actual) {
    // Chunks that editors append after the audio are not audio: such a file is healthy.
    switch (WalkChunks(fd, header + oldDsize + (oldDsize & 1), length, window.data(), got)) {
      case Trailer::kChunks: return Verdict::kCorrect;
      case Trailer::kReadError: return Verdict::kReadError;
      case Trailer::kOther: break;
    }
  }

  std::array<unsigned char, 4> sizeSub2;
  Decon4(target, sizeSub2);
  const std::size_t written = WriteAt(fd, sizeSub2, h + 4);
  if (written != sizeSub2.size()) {
    // Half a field is worse than the old one: put the old bytes back if any were replaced.
    if (written > 0) WriteAt(fd, oldDsize_ch, h + 4);
    return Verdict::kWriteError;
  }
  // Success is reported only once the bytes are on the disk.
  if (::fdatasync(fd) != 0 || !file.close()) return Verdict::kWriteError;
  return Verdict::kFixed;
}

}  // namespace

void FIX_SIZE(const char* path) {
  switch (Mend(path)) {
    case Verdict::kCannotOpen: std::printf("File called %s cannot be found.\n", path); break;
    case Verdict::kNoTag: std::printf("Cannot find data block in wave file!\n"); break;
    case Verdict::kCutShort: std::printf("Data block in %s is cut short; header left unchanged.\n", path); break;
    case Verdict::kReadError: std::printf("Unable to read %s; header left unchanged.\n", path); break;
    case Verdict::kCorrect: std::printf("The header in %s appears to be correct.\n", path); break;
    case Verdict::kFixed: std::printf("Header was fixed successfully in %s.\n", path); break;
    case Verdict::kWriteError: std::printf("Unable to write data to header in %s.\n", path); break;
  }
}

}  // namespace wavmend
