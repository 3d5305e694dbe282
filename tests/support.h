// Helpers shared by the tests: a scoped temporary folder, files as strings, and runs in a child process.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wavmend::test {

// A fresh folder under /tmp, removed with everything in it when the object goes, even after a failed assertion.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

struct Output {
  std::string out;
  std::string err;
  int status = -1;  // the exit status, or -1 when the child did not exit normally
};

// Runs `body` in a forked child whose working folder is `cwd`, as user `uid` if given; the child exits with 0.
Output InChild(const std::function<void()>& body, const std::string& cwd, std::optional<uid_t> uid = {});
// Runs wavmend_32bit with `args` in `cwd`, with `input` (at most a pipe's 64 KiB) on a pipe as standard input.
Output Run(const std::vector<std::string>& args, const std::string& cwd, std::string_view input = {});
// Expects exactly `out` on standard output, nothing on standard error, and exit status `status`.
void ExpectOutput(const Output& got, std::string_view out, int status);

void WriteFile(const std::string& path, std::string_view bytes);
// Reads at most `max` bytes from the start of the file.
std::string ReadFile(const std::string& path, std::size_t max = SIZE_MAX);
// The four bytes of `value` as an unsigned 32-bit little-endian field.
std::string Le32(std::uint32_t value);
// A 44-byte canonical WAVE header (PCM, mono, 8 kHz, 8 bits) with data size `stored`, then `audio` bytes.
std::string Wave(std::uint32_t stored, std::size_t audio);

}  // namespace wavmend::test
