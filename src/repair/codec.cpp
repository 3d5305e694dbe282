// SPDX-License-Identifier: MIT
#include "repair/repair.h"

namespace wavmend {

std::int64_t Assem4(std::span<const unsigned char, 4> field) {
  return std::int64_t{field[0]} | std::int64_t{field[1]} << 8 | std::int64_t{field[2]} << 16 |
         std::int64_t{field[3]} << 24;
}

void Decon4(std::int64_t value, std::span<unsigned char, 4> field) {
  auto bits = static_cast<std::uint32_t>(value);
  for (unsigned char& byte : field) {
    byte = static_cast<unsigned char>(bits & 0xFF);
    bits >>= 8;
  }
}

}  // namespace wavmend
