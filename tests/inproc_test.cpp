// FIX_SIZE in this process: with system calls failing on demand (linked in with --wrap), and over random files.
#include <unistd.h>

#include <cerrno>
#include <random>

#include <gtest/gtest.h>

#include "repair/repair.h"
#include "support.h"

namespace {

// Each count names the call, counted from 1, that fails; 0 lets every call through.
struct Faults {
  int pread = 0, pwrite = 0, fdatasync = 0, close = 0;
  bool short_write = false;  // the first pwrite writes only half its bytes
} faults;

bool Due(int& count) { return count > 0 && --count == 0; }

}  // namespace

extern "C" {
ssize_t __real_pread(int, void*, size_t, off_t);
ssize_t __real_pwrite(int, const void*, size_t, off_t);
int __real_fdatasync(int);
int __real_close(int);

ssize_t __wrap_pread(int fd, void* buf, size_t n, off_t at) {
  return Due(faults.pread) ? (errno = EIO, -1) : __real_pread(fd, buf, n, at);
}
ssize_t __wrap_pwrite(int fd, const void* buf, size_t n, off_t at) {
  if (Due(faults.pwrite)) return errno = ENOSPC, -1;
  return __real_pwrite(fd, buf, std::exchange(faults.short_write, false) ? n / 2 : n, at);
}
int __wrap_fdatasync(int fd) { return Due(faults.fdatasync) ? (errno = EIO, -1) : __real_fdatasync(fd); }
int __wrap_close(int fd) {
  const int result = __real_close(fd);
  return Due(faults.close) ? (errno = EIO, -1) : result;
}
}

namespace wavmend::test {
namespace {

// Runs FIX_SIZE on `path` with `armed` faults and returns what it printed.
std::string Check(const std::string& path, Faults armed = {}) {
  testing::internal::CaptureStdout();
  faults = armed;
  FIX_SIZE(path.c_str());
  faults = {};
  return testing::internal::GetCapturedStdout();
}

TEST(InProcess, FaultsAreNeverReportedAsSuccess) {
  TempDir dir;
  const std::string path = dir.path / "f.wav", broken = Wave(0, 100), fixed = Wave(100, 100);
  const std::string unwritten = "Unable to write data to header in " + path + ".\n";
  const std::string unread = "Unable to read " + path + "; header left unchanged.\n";
  const std::string trailed = Wave(5000, 5000) + "LIST" + Le32(4) + "abcd";  // its chunk lies past the first block
  const struct {
    const char* name;
    Faults faults;
    std::string before, out, after;
  } cases[] = {
      {"write refused", {.pwrite = 1}, broken, unwritten, broken},
      {"half written, then refused", {.pwrite = 2, .short_write = true}, broken, unwritten, broken},
      {"sync fails", {.fdatasync = 1}, broken, unwritten, fixed},
      {"close fails", {.close = 1}, broken, unwritten, fixed},
      {"header unreadable", {.pread = 1}, broken, unread, broken},
      {"trailing chunk unreadable", {.pread = 2}, trailed, unread, trailed},
      {"appended run unreadable", {.pread = 2}, Wave(0, 5000), unread, Wave(0, 5000)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(path, c.before);
    EXPECT_EQ(Check(path, c.faults), c.out);
    EXPECT_EQ(ReadFile(path), c.after);
  }
}

// Near misses: tags at both parities around the first block and the window's end, sizes right, wrong and
// cut short, and chunks after the audio.
std::string RandomFile(std::mt19937& rng) {
  auto pick = [&](std::size_t lo, std::size_t hi) { return std::uniform_int_distribution<std::size_t>(lo, hi)(rng); };
  const std::size_t bases[] = {0, 0, 0, 4000, 131000}, base = bases[pick(0, 4)];
  std::string bytes(base + pick(0, 200), '\0');
  for (char& b : bytes) b = "dataDxLIST\x01 "[pick(0, 11)];
  const std::string heads[] = {"RIFF" + Le32(0) + "WAVE", "RIFFdataWAVE", "RF64" + Le32(0) + "WAVE", "RIFF"};
  if (bytes.size() >= 12) bytes.replace(0, 12, heads[pick(0, 6) % 4 * (pick(0, 1))].substr(0, 12));
  for (std::size_t n = pick(0, 2); n > 0 && bytes.size() >= 8; --n) {
    const std::size_t h = std::min(base + pick(0, 150), bytes.size() - 8);
    const std::uint32_t sizes[] = {0, static_cast<std::uint32_t>(bytes.size() - h - 8),
                                   static_cast<std::uint32_t>(pick(0, 300))};
    bytes.replace(h, 8, "data" + Le32(sizes[pick(0, 2)]));
  }
  const std::string runs[] = {"", "", "LIST" + Le32(3) + "abc", "bext" + Le32(0) + "id3 " + Le32(1) + "a", "JUNK" + Le32(9)};
  return bytes + runs[pick(0, 4)];
}

TEST(InProcess, ChangesAtMostTheFirstTagsSizeFieldAndSettles) {
  std::mt19937 rng(20261206);
  TempDir dir;
  const std::string path = dir.path / "f";
  for (int i = 0; i < 400; ++i) {
    const std::string before = RandomFile(rng);
    WriteFile(path, before);
    Check(path);
    std::string after = ReadFile(path);
    std::size_t h = before.compare(0, 4, "RIFF") == 0 && before.compare(8, 4, "WAVE") == 0 ? 12 : 1 << 30;
    while (h <= 131072 && h + 4 <= before.size() && before.compare(h, 4, "data") != 0) h += 2;
    if (h <= 131072 && h + 8 <= before.size()) after.replace(h + 4, 4, before, h + 4, 4);
    EXPECT_EQ(after, before) << i;
    EXPECT_EQ(Check(path).find("fixed"), std::string::npos) << i;
  }
}

}  // namespace
}  // namespace wavmend::test
