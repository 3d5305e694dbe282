// SPDX-License-Identifier: MIT
// The search for the "data" tag in the bytes at the start of a file.
#pragma once

#include <cstdint>
#include <span>

namespace wavmend {

// The RIFF header fills the first 12 bytes, and its size at offset 4 may well spell "data".
inline constexpr std::int64_t kFirstProbe = 12;
inline constexpr std::int64_t kLastProbe = 131072;
// The bytes that can hold the tag and its size field.
inline constexpr std::int64_t kWindow = kLastProbe + 8;

// Returns the first even offset from `from` (even, at least kFirstProbe) to kLastProbe at which "data" lies
// wholly inside `buf`, or -1.
std::int64_t FindTag(std::span<const unsigned char> buf, std::int64_t from);

}  // namespace wavmend
