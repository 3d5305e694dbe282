#include <array>

#include <gtest/gtest.h>

#include "repair/repair.h"

namespace wavmend {
namespace {

using Field = std::array<unsigned char, 4>;

TEST(Codec, EncodesTheLow32BitsLittleEndianAndDecodesUnsigned) {
  const struct {
    std::int64_t value;
    Field field;
  } cases[] = {
      {0, {0, 0, 0, 0}},          {44, {0x2C, 0, 0, 0}},      {128, {0x80, 0, 0, 0}},
      {16777216, {0, 0, 0, 1}},   {2147483648, {0, 0, 0, 0x80}}, {4294967295, {0xFF, 0xFF, 0xFF, 0xFF}},
      {4294967296, {0, 0, 0, 0}}, {(std::int64_t{1} << 48) + 0x01020304, {4, 3, 2, 1}}, {-1, {0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& c : cases) {
    Field field{};
    Decon4(c.value, field);
    EXPECT_EQ(field, c.field) << c.value;
    EXPECT_EQ(Assem4(c.field), c.value & 0xFFFFFFFF) << c.value;
  }
  for (std::int64_t value = 0; value <= 0xFFFFFFFF; value += 65521) {
    Field field{};
    Decon4(value, field);
    ASSERT_EQ(Assem4(field), value);
  }
}

}  // namespace
}  // namespace wavmend
