// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "repair/chunks.h"
#include "repair/file.h"
#include "repair/repair.h"
#include "repair/say.h"
#include "repair/scan.h"

namespace wavmend {
namespace {

constexpr std::int64_t kFieldMax = 0xFFFFFFFF;

enum class Verdict { kCannotOpen, kNotWave, kNoTag, kCutShort, kReadError, kCorrect, kFixed, kWriteError };

// The first bytes of the file at hand; static, to stay off the stack. Page-aligned, as the page cache is: copying
// into it then takes the same time wherever the linker puts it (64 bytes into a page cost a tenth more).
alignas(4096) std::array<unsigned char, kWindow> window;

constexpr int kOpenFlags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Opens `name` for update or, where only writing is refused (by its mode, its mount or its attributes), for
// reading, so that the file can still be checked; `writable` tells which.
File OpenFile(const char* name, bool& writable) {
  File file(::open(name, O_RDWR | kOpenFlags));
  writable = bool(file);
  if (file || (errno != EACCES && errno != EROFS && errno != EPERM)) return file;
  return File(::open(name, O_RDONLY | kOpenFlags));
}

// Where /proc is missing: look with stat, open, and close unread whatever the path names by then if it is not
// the regular file that stat saw.
File OpenRegularByName(const char* path, std::int64_t& length, bool& writable) {
  struct stat named = {};
  struct stat opened = {};
  if (::stat(path, &named) != 0 || !S_ISREG(named.st_mode)) return File();
  File file = OpenFile(path, writable);
  if (!file || ::fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_dev != named.st_dev ||
      opened.st_ino != named.st_ino) {
    return File();
  }
  length = opened.st_size;
  return file;
}

// Opens `path` for update, or for reading where it may not be written (and sets `writable` to tell which), if it
// is a regular file, and sets `length`; otherwise returns an empty File. Opening a FIFO or a device acts on its
// peer or its driver, so such a file is never opened. An O_PATH descriptor wakes no peer and runs no driver;
// reopening it through /proc reaches the very file it looked at, however the path changes meanwhile.
File OpenRegular(const char* path, std::int64_t& length, bool& writable) {
  File look(::open(path, O_PATH | O_CLOEXEC));
  struct stat st {};
  if (!look || ::fstat(look.get(), &st) != 0 || !S_ISREG(st.st_mode)) return File();
  char again[32];
  std::snprintf(again, sizeof again, "/proc/self/fd/%d", look.get());
  File file = OpenFile(again, writable);
  const bool noProc = !file && errno == ENOENT;
  // Nothing was read or written through it, so its close cannot lose anything.
  look.close();
  if (noProc) return OpenRegularByName(path, length, writable);
  length = st.st_size;
  return file;
}

// Writes `field` at `at` whole and returns true; else puts back the `old` bytes there and returns false.
bool Replace(int fd, std::span<const unsigned char, 4> field, std::span<const unsigned char, 4> old, std::int64_t at) {
  const std::size_t written = WriteAt(fd, field, at);
  if (written == field.size()) return true;
  // Half a field is worse than the old one.
  if (written > 0) WriteAt(fd, old, at);
  return false;
}

Verdict Mend(const char* path) {
  std::int64_t length = 0;
  bool writable = false;
  File file = OpenRegular(path, length, writable);
  if (!file) return Verdict::kCannotOpen;
  const int fd = file.get();

  const std::int64_t want = std::min(length, kWindow);
  std::int64_t got = ReadAt(fd, window.data(), std::min(want, kFirstBlock), 0);
  if (got < 0) return Verdict::kReadError;
  // RF64, RIFX, Wave64 and other forms store the size elsewhere or otherwise: they are not ours to write.
  if (got < 12 || std::memcmp(window.data(), "RIFF", 4) != 0 || std::memcmp(window.data() + 8, "WAVE", 4) != 0) {
    return Verdict::kNotWave;
  }
  std::int64_t h = LocateTag({window.data(), static_cast<std::size_t>(got)}, length);
  // Only when the tag or its size field lies past the first block is the rest of the window read.
  if (h == kNeedMore) {
    if (ReadAt(fd, window.data() + got, want - got, got) != want - got) return Verdict::kReadError;
    got = want;
    h = LocateTag({window.data(), static_cast<std::size_t>(got)}, length);
  }
  std::array<unsigned char, 8> tag{};  // the tag and its size field
  if (h > kLastProbe) {
    // Recorders put chunks of hundreds of KiB before the audio; their headers lead to it.
    h = LocateFarTag(fd, h, length, tag);
    if (h == -2) return Verdict::kReadError;
  } else if (h >= 0) {
    std::copy_n(window.begin() + h, std::min<std::int64_t>(8, got - h), tag.begin());
  }
  if (h < 0) return Verdict::kNoTag;
  const std::int64_t header = h + 8;
  if (header > length) return Verdict::kCutShort;

  std::array<unsigned char, 4> oldDsize_ch, oldRiff;
  std::copy_n(tag.begin() + 4, 4, oldDsize_ch.begin());
  std::copy_n(window.begin() + 4, 4, oldRiff.begin());
  const std::int64_t oldDsize = Assem4(oldDsize_ch), riffSize = Assem4(oldRiff);
  const std::int64_t actual = length - header;
  // Chunks that editors append after the audio are not audio, nor are a writer's quirks: such a size is right.
  bool right = oldDsize == actual;
  if (!right && oldDsize < actual) {
    switch (Trailing(fd, header + oldDsize, (oldDsize & 1) != 0, riffSize + 8, length, window.data(), got)) {
      case Trailer::kChunks:
        right = true;
        break;
      case Trailer::kReadError:
        return Verdict::kReadError;
      case Trailer::kOther:
        break;
    }
  }
  std::int64_t target = oldDsize;
  if (!right) {
    // So are chunks that a writer which could not seek back appended after the audio, whatever it stored: a
    // placeholder of FF FF FF FF must not hide them where 0 would not.
    const std::int64_t run = FindAppended(fd, header, length, window.data(), got);
    if (run == -2) return Verdict::kReadError;
    // A length the field cannot hold is recorded as the largest it can.
    target = std::min((run >= 0 ? run : length) - header, kFieldMax);
  }

  std::array<unsigned char, 4> sizeSub2, riff;
  Decon4(target, sizeSub2);
  // A RIFF chunk that ends before its data chunk does makes readers that honour it stop short of the audio,
  // or find none, whether or not the data size is right.
  Decon4(std::min(length - 8, kFieldMax), riff);
  const bool raise = riffSize < h + target && riff != oldRiff;
  const bool resize = target != oldDsize;
  if (!raise && !resize) return Verdict::kCorrect;
  if (!writable) return Verdict::kWriteError;
  // The RIFF size goes first: should putting it back fail after the data size could not be written, the file
  // is still one that a second run repairs whole, which a new data size under an old RIFF size is not.
  if (raise && !Replace(fd, riff, oldRiff, 4)) return Verdict::kWriteError;
  if (resize && !Replace(fd, sizeSub2, oldDsize_ch, h + 4)) {
    if (raise) WriteAt(fd, oldRiff, 4);
    return Verdict::kWriteError;
  }
  // Success is reported only once the bytes are on the disk.
  if (::fdatasync(fd) != 0 || !file.close()) return Verdict::kWriteError;
  return Verdict::kFixed;
}

}  // namespace

void FIX_SIZE(const char* path) {
  switch (Mend(path)) {
    case Verdict::kCannotOpen:
      Say("File called %s cannot be found.\n", path);
      break;
    case Verdict::kNotWave:
      Say("File called %s is not a RIFF WAVE file; left unchanged.\n", path);
      break;
    case Verdict::kNoTag:
      Say("Cannot find data block in wave file!\n", path);
      break;
    case Verdict::kCutShort:
      Say("Data block in %s is cut short; header left unchanged.\n", path);
      break;
    case Verdict::kReadError:
      Say("Unable to read %s; header left unchanged.\n", path);
      break;
    case Verdict::kCorrect:
      Say("The header in %s appears to be correct.\n", path);
      break;
    case Verdict::kFixed:
      Say("Header was fixed successfully in %s.\n", path);
      break;
    case Verdict::kWriteError:
      Say("Unable to write data to header in %s.\n", path);
      break;
  }
}

}  // namespace wavmend
