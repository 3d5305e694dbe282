// SPDX-License-Identifier: MIT
#include "repair/scan.h"

// WAVMEND_PORTABLE_SCAN builds only the scan that every processor runs, so that tests can reach it.
#if defined(__x86_64__) && __has_include(<sys/platform/x86.h>) && !defined(WAVMEND_PORTABLE_SCAN)
// glibc's header is C, and clang, unlike g++, knows no _Bool in C++.
#ifdef __clang__
#define _Bool bool
#endif
#include <sys/platform/x86.h>
#undef _Bool
#define WAVMEND_X86_FEATURES 1
#endif

#include <algorithm>
#include <cstring>

namespace wavmend {
namespace {

constexpr std::size_t kScanBlock = 512;

using Lanes16 = std::uint16_t __attribute__((vector_size(16)));
using Lanes32 = std::uint16_t __attribute__((vector_size(32)));

// Each block of kScanBlock bytes is first swept, branch-free and in the vector `Lanes`, for "da" at an
// even position; only the rare block of audio that has one is then walked offset by offset.
template <typename Lanes>
[[gnu::always_inline]] inline std::int64_t FindTagIn(std::span<const unsigned char> buf, std::size_t from) {
  constexpr std::size_t kLaneBytes = sizeof(Lanes);
  std::uint16_t da;
  std::memcpy(&da, "da", 2);
  const Lanes want = Lanes{} + da;
  const std::size_t end = std::min<std::size_t>(buf.size(), kLastProbe + 4);
  for (std::size_t start = from; start + 4 <= end; start += kScanBlock) {
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
[[gnu::target("avx2")]] std::int64_t FindTagAvx2(std::span<const unsigned char> buf, std::size_t from) {
  return FindTagIn<Lanes32>(buf, from);
}
// Read from what the C library found at start-up: asking the processor again costs more than a batch's scan
// on a virtual machine. Set before main, so no guarded static, and no libstdc++, is needed.
const bool kHasAvx2 = CPU_FEATURE_ACTIVE(AVX2);
#endif

}  // namespace

std::int64_t FindTag(std::span<const unsigned char> buf, std::int64_t from) {
#if WAVMEND_X86_FEATURES
  // Scanning a window without the tag costs about as much as reading it; wider lanes cut that by a third.
  if (kHasAvx2) return FindTagAvx2(buf, static_cast<std::size_t>(from));
#endif
  return FindTagIn<Lanes16>(buf, static_cast<std::size_t>(from));
}

}  // namespace wavmend
