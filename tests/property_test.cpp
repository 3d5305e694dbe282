#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "repair/repair.h"
#include "support.h"

namespace wavmend::test {
namespace {

// The probes exactly as a slow reader would make them: the first even offset from 2 to 131,072.
std::size_t FirstTag(const std::string& bytes) {
  for (std::size_t h = 2; h <= 131072 && h + 4 <= bytes.size(); h += 2) {
    if (bytes.compare(h, 4, "data") == 0) return h;
  }
  return std::string::npos;
}

// Files built to be near misses: tags at both parities, around the first block and the window's end,
// stored sizes right, wrong and cut short, and chunks after the audio.
std::string RandomFile(std::mt19937& rng) {
  auto pick = [&](std::size_t lo, std::size_t hi) { return std::uniform_int_distribution<std::size_t>(lo, hi)(rng); };
  const std::size_t bases[] = {0, 0, 0, 4000, 131000};
  const std::size_t base = bases[pick(0, 4)];
  std::string bytes(base + pick(0, 200), '\0');
  const char alphabet[] = "dataDxLIST\x01 ";
  for (char& b : bytes) b = alphabet[pick(0, sizeof alphabet - 2)];
  for (std::size_t n = pick(0, 2); n > 0 && bytes.size() >= 8; --n) {
    const std::size_t h = std::min(base + pick(0, 150), bytes.size() - 8);
    const std::size_t actual = bytes.size() - h - 8;
    const std::uint32_t stored[] = {0, static_cast<std::uint32_t>(actual), static_cast<std::uint32_t>(pick(0, 300))};
    bytes.replace(h, 8, "data" + Le32(stored[pick(0, 2)]));
  }
  if (pick(0, 3) == 0) bytes += "LIST" + Le32(3) + "abc";
  return bytes;
}

TEST(Property, ChangesAtMostTheFirstTagsSizeFieldAndSettles) {
  std::mt19937 rng(20261206);
  TempDir dir;
  std::vector<std::string> before;
  for (int i = 0; i < 400; ++i) {
    before.push_back(RandomFile(rng));
    WriteFile(dir / std::to_string(i), before.back());
  }
  auto check_all = [&] {
    for (std::size_t i = 0; i < before.size(); ++i) FIX_SIZE(std::to_string(i).c_str());
  };
  InChild(check_all, dir.path());
  for (std::size_t i = 0; i < before.size(); ++i) {
    SCOPED_TRACE(i);
    std::string after = ReadFile(dir / std::to_string(i));
    ASSERT_EQ(after.size(), before[i].size());
    const std::size_t h = FirstTag(before[i]);
    if (h != std::string::npos && h + 8 <= after.size()) after.replace(h + 4, 4, before[i], h + 4, 4);
    EXPECT_EQ(after, before[i]);
  }
  const Output second = InChild(check_all, dir.path());
  EXPECT_EQ(second.out.find("fixed"), std::string::npos);
  EXPECT_EQ(std::count(second.out.begin(), second.out.end(), '\n'), 400);
}

}  // namespace
}  // namespace wavmend::test
