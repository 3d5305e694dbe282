// Failing system calls on demand, linked in with --wrap, to prove that no failure is reported as success.
#include <unistd.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "repair/repair.h"
#include "support.h"

namespace {

// Each count names the call, counted from 1, that fails; 0 lets every call through.
struct Faults {
  int pread = 0;
  int pwrite = 0;
  int fdatasync = 0;
  int close = 0;
  bool short_write = false;  // the first pwrite writes only half its bytes
} faults;

bool Due(int& count) { return count > 0 && --count == 0; }

}  // namespace

extern "C" {
ssize_t __real_pread(int, void*, size_t, off_t);
ssize_t __real_pwrite(int, const void*, size_t, off_t);
int __real_fdatasync(int);
int __real_close(int);

ssize_t __wrap_pread(int fd, void* buf, size_t n, off_t offset) {
  if (Due(faults.pread)) return errno = EIO, -1;
  return __real_pread(fd, buf, n, offset);
}
ssize_t __wrap_pwrite(int fd, const void* buf, size_t n, off_t offset) {
  if (Due(faults.pwrite)) return errno = ENOSPC, -1;
  if (std::exchange(faults.short_write, false)) return __real_pwrite(fd, buf, n / 2, offset);
  return __real_pwrite(fd, buf, n, offset);
}
int __wrap_fdatasync(int fd) { return Due(faults.fdatasync) ? (errno = EIO, -1) : __real_fdatasync(fd); }
int __wrap_close(int fd) {
  const int result = __real_close(fd);
  return Due(faults.close) ? (errno = EIO, -1) : result;
}
}

namespace wavmend::test {
namespace {

TEST(Faults, AreNeverReportedAsSuccess) {
  const std::string unwritten = "Unable to write data to header in f.wav.\n";
  const std::string unread = "Unable to read f.wav; header left unchanged.\n";
  const std::string broken = Wave(0, 100), fixed = Wave(100, 100);
  // A healthy file whose chunk after the audio lies past the first block.
  const std::string trailed = Wave(5000, 5000) + "LIST" + Le32(4) + "abcd";
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
      {"no fault", {}, broken, "Header was fixed successfully in f.wav.\n", fixed},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir / "f.wav", c.before);
    const Output got = InChild(
        [&] {
          faults = c.faults;
          FIX_SIZE("f.wav");
        },
        dir.path());
    ExpectOutput(got, c.out, 0);
    EXPECT_EQ(ReadFile(dir / "f.wav"), c.after);
  }
}

}  // namespace
}  // namespace wavmend::test
