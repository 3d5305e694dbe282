#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Counts the one-token faults in src/ that the test suite catches.

Each fault below is made in turn in this checkout, the default preset is built and its tests run; a
fault is caught when the build or any test fails. The sources are restored after each one.
Run from a checkout you are not editing: python3 tools/mutants.py [NUMBER ...]
"""
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "mutants")

# (file under src/, text that occurs once, the faulty text[, why no test catches it, by design])
FAULTS = [
    ("repair/codec.cpp", "std::int64_t{field[3]} << 24", "std::int64_t{field[3]} << 16"),
    ("repair/codec.cpp", "std::int64_t{field[1]} << 8 |", "std::int64_t{field[1]} << 9 |"),
    ("repair/codec.cpp", "bits & 0xFF", "bits & 0x7F"),
    ("repair/codec.cpp", "bits >>= 8;", "bits >>= 7;"),
    ("repair/file.h", "return fd < 0 || ::close(fd) == 0;", "return fd < 0 || ::close(fd) != 0;"),
    ("repair/file.h", "explicit operator bool() const noexcept { return fd_ >= 0; }",
     "explicit operator bool() const noexcept { return fd_ < 0; }"),
    ("repair/file.cpp", "if (n < 0) return -1;", "if (n < 0) return 0;"),
    ("repair/file.cpp", "while (done < buf.size())", "while (done == 0)",
     "a write cut short that the next call completes; no disk here does that"),
    ("repair/file.cpp", "    if (n == 0) break;\n", "\n",
     "no caller asks for bytes past the end of a file that does not shrink meanwhile"),
    ("repair/scan.h", "kFirstProbe = 12;", "kFirstProbe = 4;"),
    ("repair/scan.h", "kLastProbe = 131072;", "kLastProbe = 131070;"),
    ("repair/scan.cpp", "if (any == 0) continue;", "if (any != 0) continue;"),
    ("repair/scan.cpp", "std::min(start + kScanBlock, end - 3)", "std::min(start + kScanBlock, end - 4)"),
    ("repair/scan.cpp", "seen |= reinterpret_cast", "seen &= reinterpret_cast"),
    ("repair/scan.cpp", "buf.size(), kLastProbe + 4)", "buf.size(), kLastProbe + 2)"),
    ("repair/scan.cpp", "for (std::size_t h = start; h < stop; h += 2)", "for (std::size_t h = start; h < stop; h += 4)"),
    ("repair/chunks.h", "kMaxTrailingChunks = 64;", "kMaxTrailingChunks = 65;"),
    ("repair/chunks.h", "kAppendReach = 1 << 20;", "kAppendReach = (1 << 20) + 2;",
     "a run that begins exactly at the 1 MiB reach, a bound no test pins"),
    ("repair/chunks.cpp", "c <= 0x7E", "c < 0x7E"),
    ("repair/chunks.cpp", "c >= 0x20", "c > 0x20"),
    ("repair/chunks.cpp", "need < (cut ? 4 : 8)", "need < (cut ? 4 : 4)",
     "one read more where 4 to 7 bytes end a walk that no cut chunk may end; no line changes"),
    ("repair/chunks.cpp", "pos += 8 + size;", "pos += 7 + size;"),
    ("repair/chunks.cpp", "if (pos > end) return Trailer::kOther;", "if (pos >= end) return Trailer::kOther;"),
    ("repair/chunks.cpp", "size % 2 == 1 && pos < end", "size % 2 == 1"),
    ("repair/chunks.cpp", "size % 2 == 1 && pos < end", "size % 2 == 0 && pos < end"),
    ("repair/chunks.cpp", "      at = pos;\n", "\n"),
    ("repair/chunks.cpp", "if (have < 0) return Trailer::kReadError;", "if (have < 0) return Trailer::kOther;"),
    ("repair/chunks.cpp", "leads[static_cast<unsigned char>(id[0])] = true;",
     "leads[static_cast<unsigned char>(id[0])] = false;"),
    ("repair/chunks.cpp", "std::memcmp(id, want, 4) == 0", "std::memcmp(id, want, 3) == 0"),
    ("repair/chunks.cpp", "p = at + (at & 1);", "p = at;"),
    ("repair/chunks.cpp", "length - p >= 8;", "length - p > 8;"),
    ("repair/chunks.cpp", "length - p >= 8; p += 2)", "length - p >= 8; p += 4)"),
    ("repair/chunks.cpp", "length - at) == Trailer::kChunks", "length - at) != Trailer::kChunks"),
    ("repair/fix_size.cpp", "kFieldMax = 0xFFFFFFFF;", "kFieldMax = 0xFFFFFFFE;"),
    ("repair/fix_size.cpp", "window.data() + 8, \"WAVE\", 4)", "window.data() + 8, \"WAVE\", 3)"),
    ("repair/fix_size.cpp", "got < 12 || std::memcmp(window.data(), \"RIFF\", 4) != 0 ||", "got < 12 ||"),
    ("repair/chunks.cpp", "(h < 0 || h + 8 > got)", "(h < 0 || h + 4 > got)"),
    ("repair/fix_size.cpp", "if (header > length) return", "if (header > length + 1) return"),
    ("repair/fix_size.cpp", "const bool resize = target != oldDsize;", "const bool resize = target != actual;"),
    ("repair/fix_size.cpp", "if (!right && oldDsize < actual) {", "if (!right && oldDsize > actual) {"),
    ("repair/fix_size.cpp", "header + oldDsize, (oldDsize & 1) != 0", "header + oldDsize, false"),
    ("repair/fix_size.cpp", "    if (run == -2) return Verdict::kReadError;\n", "\n"),
    ("repair/fix_size.cpp", "(run >= 0 ? run : length) - header", "(run >= 0 ? run : length) - h"),
    ("repair/chunks.cpp", "length - kAppendReach)", "length - kAppendReach + 2)",
     "a run that begins exactly at the 1 MiB reach, a bound no test pins"),
    ("repair/chunks.cpp", "if (got == length) {", "if (got != length) {"),
    ("repair/fix_size.cpp", "  if (written > 0) WriteAt(fd, old, at);\n", "\n"),
    ("repair/fix_size.cpp", "if (::fdatasync(fd) != 0 || !file.close())", "if (!file.close())"),
    ("repair/fix_size.cpp", "|| !S_ISREG(named.st_mode)", "",
     "the fallback without /proc, and a path that changes between the look and the open"),
    ("repair/fix_size.cpp", "::open(name, O_RDWR", "::open(name, O_RDONLY"),
    ("repair/fix_size.cpp", "OpenFile(again, writable)", "OpenFile(path, writable)"),
    ("repair/fix_size.cpp", "Decon4(target, sizeSub2);", "Decon4(actual, sizeSub2);"),
    ("repair/fix_size.cpp", "RIFF WAVE file; left unchanged.\\n", "RIFF WAVE file; left unchanged\\n"),
    ("cli/main.cpp", "return std::fflush(stdout) != 0 || std::ferror(stdout) ? 1 : status;", "return status;"),
    ("cli/main.cpp", "case 2:", "case 3:"),
    ("cli/batch.cpp", "if (buf[i] == '\\0')", "if (buf[i] == '\\r')"),
    ("cli/batch.cpp", "} else if (len > 0) {", "} else {"),
    ("cli/batch.cpp", "len >= kWidth)", "len > kWidth)"),
    ("cli/batch.cpp", "if (n == 0) return 1;", "if (n == 0) return 0;"),
    ("cli/batch.cpp", "  if (len > 0 && count < max) finish();\n", "\n"),
    ("cli/batch.cpp", "kMaxNames = 512;", "kMaxNames = 511;"),
    ("cli/usage.cpp", "  return 1;", "  return 0;"),
    ("cli/usage.cpp", "wavefiles.  Include", "wavefiles. Include"),
    # The RIFF size that ends before the audio, and writes that are all or nothing.
    ("repair/fix_size.cpp", "riffSize < h + target", "riffSize <= h + target"),
    ("repair/fix_size.cpp", "riffSize < h + target", "riffSize < header + target"),
    ("repair/fix_size.cpp", "Decon4(std::min(length - 8, kFieldMax), riff);", "Decon4(length - 8, riff);"),
    ("repair/fix_size.cpp", "std::min(length - 8, kFieldMax)", "std::min(length, kFieldMax)"),
    ("repair/fix_size.cpp", "Replace(fd, riff, oldRiff, 4)", "Replace(fd, riff, oldRiff, 8)"),
    ("repair/fix_size.cpp", "    if (raise) WriteAt(fd, oldRiff, 4);\n", "\n"),
    ("repair/fix_size.cpp", "if (written == field.size()) return true;", "if (written > 0) return true;"),
    # The walk over the chunks before the audio.
    ("repair/chunks.cpp", "p + 8 + Size(head) > length) break;", "p + 8 + Size(head) > length + 1) break;",
     "a chunk before the tag that ends one byte past the end of the file"),
    ("repair/chunks.cpp", "p + 8 + size + size % 2, length", "p + 8 + size, length"),
    ("repair/chunks.cpp", "p = Next(head, p, length);", "p += 8 + Size(head);"),
    ("repair/chunks.cpp", "if (!Printable(head) || p + 8", "if (p + 8"),
    ("repair/chunks.cpp", "if (!whole) return kNeedMore;", "if (!whole) return -1;"),
    ("repair/chunks.cpp", "? kNeedMore : h;", "? h : h;"),
    ("repair/chunks.cpp", "p + 8 + Size(head) > length) break;", "p + 8 + Size(head) >= length) break;"),
    ("repair/chunks.cpp", "FindTag(buf, p + p % 2)", "FindTag(buf, kFirstProbe)"),
    ("repair/chunks.cpp", "got >= std::min(length, kWindow)", "got >= kWindow"),
    ("repair/chunks.cpp", "if (std::memcmp(head, \"data\", 4) == 0) return p;", "if (false) return p;"),
    # Special files are never opened, and a reader that goes away ends nothing.
    ("cli/main.cpp", "  std::signal(SIGPIPE, SIG_IGN);\n", "\n"),
    ("cli/main.cpp", "      status = wavmend::Usage();\n", "\n"),
    # Healthy files: a pad byte left out, and stray bytes after the RIFF chunk.
    ("repair/chunks.cpp", "stray >= 1 &&", "stray >= 2 &&"),
    ("repair/chunks.cpp", "stray < 8 ?", "stray < 9 ?"),
    ("repair/chunks.cpp", "stray < 8 ?", "stray < 7 ?"),
    ("repair/chunks.cpp", "Trailer::kOther && odd ?", "Trailer::kOther && false ?"),
    ("repair/chunks.cpp", "? chunksTo(riffEnd) : t", "? t : t"),
    ("repair/chunks.cpp", "WalkChunks(fd, audioEnd + odd,", "WalkChunks(fd, audioEnd + 1,"),
    ("repair/chunks.cpp", "if (pos == end) return Trailer::kChunks;", "if (pos == end && chunks > 0) return Trailer::kChunks;"),
    ("repair/chunks.cpp", "padded == Trailer::kOther && odd", "padded != Trailer::kChunks && odd"),
    ("repair/fix_size.cpp", "riffSize + 8, length", "riffSize + 9, length"),
    # Opening on the same file that was looked at, and names printed safely.
    ("repair/fix_size.cpp", "::open(path, O_PATH | O_CLOEXEC)", "::open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC)"),
    ("repair/fix_size.cpp", "::fstat(look.get(), &st) != 0 || !S_ISREG(st.st_mode)", "::fstat(look.get(), &st) != 0"),
    ("repair/fix_size.cpp", "!file && errno == ENOENT;", "false;",
     "the fallback without /proc, which no test runs"),
    ("repair/fix_size.cpp", "  length = st.st_size;\n", "\n"),
    ("repair/say.cpp", "*p < 0x20 ||", "*p < 0x1F ||"),
    ("repair/say.cpp", "*p < 0x20 ||", "*p <= 0x20 ||"),
    ("repair/say.cpp", "*p < 0x20 || *p == 0x7F", "*p < 0x20"),
    ("repair/say.cpp", "\"\\\\%03o\"", "\"\\\\%o\""),
    ("repair/say.cpp", "std::fputs(slot + 2, stdout);", "std::fputs(slot + 1, stdout);"),
    ("cli/batch.cpp", "  Say(format, path);", "  std::printf(format, path);"),
    # A file-size limit, a placeholder of FF FF FF FF, names that print one way only, descriptors closed, and the
    # fallback without /proc.
    ("cli/main.cpp", "  std::signal(SIGXFSZ, SIG_IGN);\n", "\n"),
    ("repair/fix_size.cpp", "bool right = oldDsize == actual;", "bool right = oldDsize == std::min(actual, kFieldMax);"),
    ("repair/fix_size.cpp", "  if (!raise && !resize) return Verdict::kCorrect;\n", "\n"),
    ("repair/say.cpp", "} else if (*p == '\\\\') {", "} else if (*p == '/') {"),
    ("repair/say.cpp", "lead >= 0xC2 &&", "lead >= 0xC0 &&"),
    ("repair/say.cpp", "lead == 0xE0 ? 0xA0", "lead == 0xE0 ? 0x80",
     "the second-byte bound after E0, let go"),
    ("repair/say.cpp", "lead == 0xED ? 0x9F", "lead == 0xED ? 0xBF",
     "the second-byte bound after ED, let go"),
    ("repair/say.cpp", "lead == 0xF0 ? 0x90", "lead == 0xF0 ? 0x80",
     "the second-byte bound after F0, let go"),
    ("repair/say.cpp", "lead == 0xF4 ? 0x8F", "lead == 0xF4 ? 0xBF",
     "the second-byte bound after F4, let go"),
    ("repair/say.cpp", "lead <= 0xF4", "lead <= 0xF7"),
    ("repair/say.cpp", "p[i] < 0x80 ||", "p[i] < 0x00 ||"),
    ("repair/say.cpp", "p[1] < 0xA0", "p[1] < 0x9F"),
    ("repair/file.h", "    if (fd_ >= 0) ::close(fd_);\n", "\n"),
    ("repair/fix_size.cpp", "opened.st_ino != named.st_ino", "false",
     "the fallback without /proc, and another file swapped in between the look and the open"),
    # A RIFF size that ends before the audio is raised under a right data size too, unless it holds the cap already.
    ("repair/fix_size.cpp", "if (!raise && !resize) return", "if (!resize) return"),
    ("repair/fix_size.cpp", "riffSize < h + target && riff != oldRiff", "riffSize < h + target"),
    ("repair/fix_size.cpp", "riffSize < h + target && riff != oldRiff", "riffSize < h + oldDsize && riff != oldRiff"),
    ("repair/fix_size.cpp", "right = true;", "right = false;"),
    # Files that real writers leave: a last chunk cut short, a tag behind a chunk across the last probe, files
    # that may only be read, and a list that is a recording.
    ("repair/chunks.cpp", "const bool cut = end == length;", "const bool cut = false;"),
    ("repair/chunks.cpp", "const bool cut = end == length;", "const bool cut = true;"),
    ("repair/chunks.cpp", "if (cut && Appended(head) &&", "if (cut &&"),
    ("repair/chunks.cpp", "(left < 8 || 8 + Size(head) > left)", "(left < 8)"),
    ("repair/chunks.cpp", "(left < 8 || 8 + Size(head) > left)", "(8 + Size(head) > left)",
     "where fewer than 8 bytes are left any size runs past them: the first test only keeps bytes past them unread"),
    ("repair/chunks.cpp", "if (p > kLastProbe) return p;", "if (p > kLastProbe) return -1;"),
    ("repair/chunks.cpp", "chunks < kMaxTrailingChunks && length - pos >= 4", "length - pos >= 4"),
    ("repair/chunks.cpp", "chunks < kMaxTrailingChunks && length - pos >= 4", "chunks < kMaxTrailingChunks && length - pos >= 8"),
    ("repair/chunks.cpp", "if (!Printable(head.data())) return -1;", "if (false) return -1;"),
    ("repair/chunks.cpp", "pos = Next(head.data(), pos, length);", "pos += 8 + Size(head.data());"),
    ("repair/fix_size.cpp", "    if (h == -2) return Verdict::kReadError;\n", "\n"),
    ("repair/fix_size.cpp", "errno != EACCES && errno != EROFS", "errno != EROFS"),
    ("repair/fix_size.cpp", "  if (!writable) return Verdict::kWriteError;\n", "\n",
     "a write to a file opened for reading fails and writes nothing all the same; it only costs a call"),
    ("cli/batch.cpp", "if (first && Recording(buf, n))", "if (!first && Recording(buf, n))"),
    ("cli/batch.cpp", "std::memcmp(buf + 8, \"WAVE\", 4) != 0", "false",
     "a list whose first name begins with RIFF, RF64 or BW64, which no test has"),
]


def run(cmd):
    return subprocess.run(cmd, cwd=ROOT, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def failing(build):
    """The names of the tests that fail, all of them run."""
    out = subprocess.run(["ctest", "--test-dir", build, "-j2", "--timeout", "120"], cwd=ROOT, capture_output=True,
                         text=True).stdout
    return [line.split(" - ")[1].split(" (")[0].split("  #")[0] for line in out.splitlines()
            if line.lstrip()[:1].isdigit() and " - " in line]


def main():
    which = "--which" in sys.argv
    chosen = [int(a) for a in sys.argv[1:] if a != "--which"] or range(1, len(FAULTS) + 1)
    if not (run(["cmake", "--preset", "default", "-B", BUILD]) and run(["cmake", "--build", BUILD])):
        sys.exit("the unchanged sources do not build")
    survived, let_go = [], []
    for number in chosen:
        name, old, new, *why = FAULTS[number - 1]
        path = os.path.join(ROOT, "src", name)
        with open(path) as f:
            text = f.read()
        if text.count(old) != 1:
            sys.exit(f"fault {number}: {old!r} is not in {name} exactly once")
        try:
            with open(path, "w") as f:
                f.write(text.replace(old, new))
            built = run(["cmake", "--build", BUILD])
            failed = failing(BUILD) if built and which else []
            caught = not built or bool(failed) or (not which and not run(
                ["ctest", "--test-dir", BUILD, "-j2", "--timeout", "120", "--stop-on-failure"]))
        finally:
            with open(path, "w") as f:
                f.write(text)
        verdict = "caught  " if caught else "let go  " if why else "SURVIVED"
        print(f"{number:3} {verdict} {name}: {old.strip()!r} -> {new.strip()!r}", flush=True)
        if failed or not built or (why and not caught):
            print("      " + ("by " + ", ".join(failed) if failed else "by the build" if not built else why[0]), flush=True)
        if not caught:
            (let_go if why else survived).append(number)
    print(f"caught {len(chosen) - len(survived) - len(let_go)} of {len(chosen)}; let go by design: {let_go}; "
          f"survived: {survived}")


if __name__ == "__main__":
    main()
