// What the tests share: a scoped temporary folder and WAVE files as strings.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace wavmend::test {

// A fresh folder under /tmp that any user may enter, removed with its contents even after a failed assertion.
struct TempDir {
  static std::filesystem::path Make() {
    char name[] = "/tmp/wavmend-test-XXXXXX";
    if (::mkdtemp(name) == nullptr) std::abort();
    std::filesystem::permissions(name, std::filesystem::perms(0755));
    return name;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  const std::filesystem::path path = Make();
};

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The four bytes of `value` as an unsigned 32-bit little-endian field.
inline std::string Le32(std::uint32_t value) {
  return {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
          static_cast<char>(value >> 24)};
}

// A 44-byte canonical WAVE header (PCM, mono, 8 kHz, 8 bits) with data size `stored`, then `audio` bytes.
inline std::string Wave(std::uint32_t stored, std::size_t audio) {
  return "RIFF" + Le32(static_cast<std::uint32_t>(36 + audio)) + "WAVEfmt " + Le32(16) +
         std::string("\x01\x00\x01\x00", 4) + Le32(8000) + Le32(8000) + std::string("\x01\x00\x08\x00", 4) + "data" +
         Le32(stored) + std::string(audio, '\x80');
}

inline std::string Repeat(int count, const std::string& text) {
  std::string run;
  while (count-- > 0) run += text;
  return run;
}

}  // namespace wavmend::test
