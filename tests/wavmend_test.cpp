// SPDX-License-Identifier: MIT
// FIX_SIZE in this process, against a plain model of its rules over generated files, with system calls failed on
// demand (linked in with --wrap); then the built tool, run as a user runs it, one named case for each behaviour.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "repair/repair.h"

// Each count names the call of its kind, counted from 1, that fails; 0 fails none.
struct Faults {
  int read = 0, write = 0, sync = 0, close = 0;
} faults;
// Faults made in the check at hand, and calls to open64 in it that neither went through /proc nor took O_PATH.
int fires = 0, byName = 0;

// Whether the call at hand is the one `count` names; if so, it fails as a disk error would.
bool Due(int& count) {
  if (count == 0 || --count > 0) return false;
  ++fires;
  errno = EIO;
  return true;
}

// Built with 64-bit offsets, the tool calls pread64 and the like on every architecture.
extern "C" {
decltype(pread64) __real_pread64;
decltype(pwrite64) __real_pwrite64;
decltype(open64) __real_open64;
decltype(fdatasync) __real_fdatasync;
decltype(close) __real_close;
ssize_t __wrap_pread64(int f, void* b, size_t n, off_t o) { return Due(faults.read) ? -1 : __real_pread64(f, b, n, o); }
ssize_t __wrap_pwrite64(int f, const void* b, size_t n, off_t o) {
  return Due(faults.write) ? -1 : __real_pwrite64(f, b, n, o);
}
// An open by name would wake a FIFO's peer, or reach what the path names by then. The mode is read only with
// O_CREAT, which the tool never passes.
int __wrap_open64(const char* path, int flags, mode_t mode) {
  byName += std::strncmp(path, "/proc/self/fd/", 14) != 0 && (flags & O_PATH) == 0;
  return __real_open64(path, flags, mode);
}
int __wrap_fdatasync(int fd) { return Due(faults.sync) ? -1 : __real_fdatasync(fd); }
int __wrap_close(int fd) { return __real_close(fd) != 0 || Due(faults.close) ? -1 : 0; }
}

namespace wavmend::test {

using namespace std::string_literals;
using u64 = std::uint64_t;
constexpr u64 kMax = 0xFFFFFFFF;
constexpr u64 operator""_u(unsigned long long v) { return v; }

// A fresh folder under $TMPDIR, removed with its contents even after a failed assertion.
struct TempDir {
  std::error_code ignored;  // so that the removal never throws
  std::string name = std::filesystem::temp_directory_path() / "wavmend-test-XXXXXX";
  const std::filesystem::path path =
      ::mkdtemp(name.data()) ? name : throw std::system_error(errno, std::generic_category(), "mkdtemp in $TMPDIR");
  ~TempDir() { std::filesystem::remove_all(path, ignored); }
};

// The file that FIX_SIZE checks in this process, in a folder removed at exit.
const TempDir kFolder;
const std::string kPath = kFolder.path / "f";

void WriteFile(const std::filesystem::path& path, const std::string& bytes) { std::ofstream(path) << bytes; }
// The first `n` bytes of the file at `path`, or all of it.
std::string ReadFile(const std::filesystem::path& path, std::uintmax_t n = -1) {
  std::string bytes(std::min(n, std::filesystem::file_size(path)), '\0');
  return std::ifstream(path).read(bytes.data(), std::streamsize(bytes.size())) ? bytes : "unreadable";
}
// The four bytes of `v` as an unsigned 32-bit little-endian field.
std::string Le32(std::uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

// A WAVE header (PCM, mono, 8 kHz, 8 bits) with RIFF size `riff`, the chunks `more`, data size `stored`, then
// `audio` bytes.
std::string Wave(std::uint32_t riff, std::uint32_t stored, std::size_t audio, const std::string& more = "") {
  const std::string format = "fmt \20\0\0\0\1\0\1\0\x40\x1F\0\0\x40\x1F\0\0\1\0\10\0"s;
  return "RIFF" + Le32(riff) + "WAVE" + format + more + "data" + Le32(stored) + std::string(audio, '\x80');
}

std::string Fixed(const std::string& path) { return "Header was fixed successfully in " + path + ".\n"; }
std::string Correct(const std::string& path) { return "The header in " + path + " appears to be correct.\n"; }
std::string Unwritten(const std::string& path) { return "Unable to write data to header in " + path + ".\n"; }

// A file as the model sees it: `head`, `hole` zero bytes, then `tail`, so that files past 4 GiB cost little; `what`
// tells how it was made.
struct Image {
  std::string head;
  u64 hole = 0;
  std::string tail, what = "";
  unsigned char operator[](u64 at) const {
    if (at < head.size()) return head[at];
    return at < head.size() + hole || at >= head.size() + hole + tail.size() ? 0 : tail[at - head.size() - hole];
  }
};

// The rules as they read, one probe and one chunk at a time.
u64 Get32(const Image& f, u64 at) { return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | u64(f[at + 3]) << 24; }
std::string Id(const Image& f, u64 i) { return {char(f[i]), char(f[i + 1]), char(f[i + 2]), char(f[i + 3])}; }

// Where the chunk at `at` ends, but for its pad byte.
u64 End(const Image& f, u64 at) { return at + 8 + Get32(f, at + 4); }

// The ids of chunks that writers append after the audio.
const std::string kIds = "|LIST|id3 |ID3 |bext|iXML|axml|cue |smpl|inst|acid|_PMX|cart|DISP|JUNK|PAD |";
bool Appended(const std::string& id) { return kIds.find("|" + id + "|") != std::string::npos; }

// Whether at most `n` well-formed chunks run from `pos` exactly to `end`: each an id of printable ASCII and a size
// that ends by `end`, then a pad byte after an odd size, but for the last; with `cut`, the last may instead be an
// appended one that `end` cuts short after its id.
bool Chunks(const Image& f, u64 pos, u64 end, bool cut = false, int n = 64) {
  if (pos == end) return true;
  if (n > 0 && cut && pos + 4 <= end && Appended(Id(f, pos)) && (pos + 8 > end || End(f, pos) > end)) return true;
  if (n == 0 || End(f, pos) > end || std::ranges::any_of(Id(f, pos), [](char c) { return c < 0x20 || c > 0x7E; }))
    return false;
  return Chunks(f, End(f, pos) + (Get32(f, pos + 4) % 2 == 1 && End(f, pos) < end), end, cut, n - 1);
}

// The line FIX_SIZE prints for `f`, and the head of the file it leaves.
std::pair<std::string, std::string> Model(Image f, const std::string& path = kPath) {
  const u64 n = f.head.size() + f.hole + f.tail.size();
  if (Id(f, 0) + Id(f, 8) != "RIFFWAVE")
    return {"File called " + path + " is not a RIFF WAVE file; left unchanged.\n", f.head};
  u64 h = 12;   // the chunks are walked while they are well-formed, then probed for from where they break
  int far = 0;  // chunk headers read past the last probe
  while ((h <= 131072 || ++far <= 64) && Id(f, h) != "data" && End(f, h) <= n && Chunks(f, h, End(f, h), false, 1))
    h = std::min(End(f, h) + Get32(f, h + 4) % 2, n);
  while (h <= 131072 && h + 4 <= n && Id(f, h) != "data") h += 2;
  if (far > 0 ? far > 64 || Id(f, h) != "data" : h > 131072 || h + 4 > n)
    return {"Cannot find data block in wave file!\n", f.head};
  if (h + 8 > n) return {"Data block in " + path + " is cut short; header left unchanged.\n", f.head};
  const u64 stored = Get32(f, h + 4);
  const u64 d = h + 8 + stored, e = Get32(f, 4) + 8;  // where the audio ends by its stored size, and the RIFF chunk
  // Chunks after the audio, from its pad byte or without it, to the end, or to the RIFF chunk's end before 1-7 bytes.
  auto healthy = [&](u64 to) { return Chunks(f, d + stored % 2, to, to == n) || Chunks(f, d, to, to == n); };
  u64 target = stored;
  if (d != n && !(d < n && (healthy(n) || (n > e && n - e < 8 && healthy(e))))) {
    u64 p = std::max(h + 8, n - std::min<u64>(n, 1 << 20));   // the earliest appended run in reach
    if (f.hole > 0) p = std::max(p, f.head.size() + f.hole);  // zero bytes are no chunk's id
    for (p += p % 2; p + 8 <= n && !(Chunks(f, p, n) && Appended(Id(f, p)));) p += 2;
    target = std::min((p + 8 > n ? n : p) - h - 8, kMax);  // all of it is audio without a run
  }
  const std::string before = f.head;
  f.head.replace(h + 4, 4, Le32(target));
  if (e < h + 8 + target) f.head.replace(4, 4, Le32(std::min(n - 8, kMax)));  // whether or not the data size was right
  return {f.head == before ? Correct(path) : Fixed(path), f.head};
}

// One file in kOtherForm, in two with the tag past the last probe, is of another form or cut before or inside its
// tag and size; one in kPastTwoGiB has audio past 2 GiB that is mostly a hole. Half the rest hold the data size that
// is right for their audio, and half a RIFF size that ends where the chunks after the audio do.
constexpr int kOtherForm = 16, kPastTwoGiB = 16;

Image RandomFile(std::mt19937& rng) {
  auto pick = [&](u64 n) { return std::uniform_int_distribution<u64>(0, n - 1)(rng); };
  auto chance = [&](u64 in) { return pick(in) == 0; };  // true once in `in`
  auto any = [&]<typename T>(std::initializer_list<T> from) { return from.begin()[pick(from.size())]; };
  // Chunks before the audio, walked over when well-formed whatever their text holds, and probed through when broken.
  const std::string broken = chance(8) ? any({"\1LST\5\0\0\0tdata\0"s, "LIST\0\0\0\100tdata\0"s}) : "";
  std::string front = any({""s, "LIST\10\0\0\0INFOdata"s, "LIST\5\0\0\0tdata\0"s}) + broken;
  // The tag after them, or by the first block's end or the last probe, after a JUNK chunk or where the walk breaks.
  const u64 near = chance(2) ? 0 : any({4088_u, 131064_u}) + 2 * pick(3);
  std::string filler(std::max<u64>(near, 44 + front.size()) - 44 - front.size(), 'x');
  filler.insert(pick(filler.size() + 1), any({"", "da", "DATA", "data"}));  // a decoy
  front += (chance(2) ? "JUNK" + Le32(filler.size()) : "\1xxxxxxx"s) + filler;
  if (chance(8)) {  // a chunk across the last probe, as Zoom's recorders write, then headers to walk, or a break
    const u64 cross = std::max<u64>(131064, 36 + front.size()) - 36 - front.size() + 2 * pick(3);
    const u64 size = any({393164_u, cross, cross + 1});
    front += "LIST" + Le32(size) + std::string(size + size % 2, 'x');
    for (u64 j = any({0_u, 63_u, 64_u}); j > 0; --j) front += "JUNK\1\0\0\0x\0"s;
    front += chance(4) ? "\1xxx\0\0\0\0"s : "";
  }
  const u64 h = 36 + front.size();
  const u64 inHead = any({pick(300), 4000 + pick(300)});  // the audio before any hole
  const u64 audio = chance(kPastTwoGiB) ? any({1_u << 31, kMax - 8, kMax, 5_u << 30}) + pick(9) : inHead;
  // Chunks after the audio, well-formed or not, the last one's pad byte (after "abc") left out or not, and strays.
  const bool piped = audio > inHead && chance(2);                           // as a writer to a pipe leaves them
  const std::string list = "LIST\4\0\0\0INFO"s, smpl = "smpl\3\0\0\0abc"s;  // smpl leaves out its pad byte
  auto after = any({""s, list + smpl + '\0', smpl, list + smpl, "LIS~\1\0\0\0z\0"s, "LIS\x7F\0\0\0\0JUNK\0\0\0\0"s});
  if (chance(4))  // a last chunk cut short, in its body or its size field, with an id that is appended or not
    after = any({list, ""s}) + any({"id3 \x63\0\0\0ab"s, "bext\x10\0"s, "abcd\x63\0\0\0ab"s, "id3"s});
  if (piped) after = list;
  after.insert(0, audio % 2 * pick(2), '\0');
  const std::string stray = chance(2) ? "" : any({"\0"s, "\xFF\xFF"s, std::string(pick(10), '\0')});
  const u64 end = h + audio + after.size();  // where the RIFF chunk ends by a right RIFF size, less 8
  u64 stored = chance(2) ? audio : any({0_u, kMax, 0x7FFF0000_u, end - h, end - h + stray.size(), pick(400)});
  // RIFF sizes that end before the data chunk's header, inside the audio, at its end, after the strays, each one
  // byte either side; placeholders; 0x61746164, which spells "data"; and any at all.
  const u64 edge = any({end, h - pick(9), h + pick(audio + 1), h + audio, end + stray.size()}) - 1 + pick(3);
  u64 riff = chance(2) ? end : chance(2) ? edge : any({0_u, 36_u, kMax, 0x61746164_u, pick(1_u << 32)});
  if (piped) stored = any({0_u, kMax});
  if (piped) riff = 36;
  std::string head = Wave(std::min(riff, kMax), std::min(stored, kMax), inHead, front);  // sizes past 4 GiB, capped
  if (chance(h > 131072 ? 2 : kOtherForm))
    head = chance(2) ? head.replace(any({0, 8}), 4, "WAVe") : head.substr(0, any({pick(h), h + pick(8)}));
  std::ostringstream what;
  what << "tag at " << h << ", data size " << stored << ", RIFF size " << riff << ", audio " << audio << ", then "
       << after.size() << " bytes and " << stray.size() << " strays; " << head.size() << " bytes before any hole";
  if (head.size() < h + 8 + inHead) return {head, 0, "", what.str()};
  return {head, audio - inHead, after + stray, what.str()};
}

// Writes `f` at kPath, runs FIX_SIZE on it under `armed`, and returns the line printed and the head of the file.
std::pair<std::string, std::string> Check(const Image& f, Faults armed = {}) {
  WriteFile(kPath, f.head);
  std::filesystem::resize_file(kPath, f.head.size() + f.hole);
  std::ofstream(kPath, std::ios::app) << f.tail;
  testing::internal::CaptureStdout();
  faults = armed;
  fires = byName = 0;
  FIX_SIZE(kPath.c_str());
  faults = {};
  return {testing::internal::GetCapturedStdout(), ReadFile(kPath, f.head.size())};  // in this order
}

// A failed read must leave the file as it was; a failed write, flush or close must not be reported as a repair.
// The tool writes only before the hole, so only that part is compared. Four seeds of 1,000 files, each under one
// fault, so that each case stays far inside its timeout under an emulator too. A fault that does not fire leaves
// a check without faults.
class Generated : public testing::TestWithParam<int> {};

TEST_P(Generated, AgreeWithThePlainRulesUnderFaults) {
  std::mt19937 rng(20261208 + GetParam());
  const std::string unread = "Unable to read " + kPath + "; header left unchanged.\n";
  const Faults kinds[] = {{.read = 1}, {.read = 2}, {.read = 3}, {.write = 1}, {.write = 2}, {.sync = 1}, {.close = 2}};
  int changed[std::size(kinds)] = {};  // files whose line each fault changed
  for (int i = 0; i < 1000; ++i) {
    const Image f = RandomFile(rng);
    const Faults armed = kinds[i % std::size(kinds)];
    const auto got = Check(f, armed);
    auto want = Model(f);  // which reads and writes are made depends on the file
    const std::string plain = want.first;
    if (want.first == Fixed(kPath) && armed.sync + armed.close > 0) want.first = Unwritten(kPath);
    if (fires > 0 && armed.read + armed.write > 0) want = {armed.read ? unread : Unwritten(kPath), f.head};
    changed[i % std::size(kinds)] += want.first != plain;
    ASSERT_EQ(got.first, want.first) << f.what;
    ASSERT_TRUE(got.second == want.second) << "other bytes written: " << f.what;
    ASSERT_EQ(byName, 0) << f.what;
  }
  // A fault that changed nothing tested nothing: its call was made under another name, or not at all.
  for (std::size_t k = 0; k < std::size(kinds); ++k) EXPECT_GT(changed[k], 0) << "fault " << k + 1 << " of kinds";
}

INSTANTIATE_TEST_SUITE_P(Seed, Generated, testing::Range(0, 4));

// Near 4 GiB, the sizes end alike whether a writer to a pipe left 0 or FF FF FF FF as the data size, under a RIFF
// size of 36, before the chunk it appended; counted as audio, that chunk would take the size past the cap.
TEST(Repair, FindsAppendedChunksWhicheverThePlaceholder) {
  for (const std::uint32_t placeholder : {0u, 0xFFFFFFFFu}) {
    const Image f{Wave(36, placeholder, 0), kMax - 7, "LIST\4\0\0\0INFO"s};
    EXPECT_EQ(Check(f), std::pair(Fixed(kPath), Wave(kMax, kMax - 7, 0))) << placeholder;
  }
}

#ifdef WAVMEND_TOOL  // in one of the two builds only: the tool is the same for both
// A command that sh runs in a folder of its own, with $T the tool and its standard error, and all that it prints.
// The command must end with status 0.
struct Row {
  const char* name;
  std::string command, want;
};
void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

// In the folder, a.wav is broken as a writer to a pipe leaves it, b.wav correct, and c.wav right but for its RIFF
// size of 36.
const Row kRows[] = {
    {"UsageForNoneThreeArgumentsOrTwoWaveFiles",  // a glob that matched two recordings is no list and a folder
     "$T >u; echo $?; $T x y z >v; echo $?; $T a.wav b.wav >w; echo $?; cmp u v && cmp u w && sed -n '2p;14p' u",
     "1\n1\n1\nWavmend " WAVMEND_VERSION "\nArgument 2 is the directory of the wavefiles.  Include the slash.\n"},
    {"FifoCannotBeFound", "mkfifo p; $T p", "File called p cannot be found.\n"},
    {"ReadOnlyFilesChecked",  // as a user who may not write them: root, without the power to override modes
     "U=$([ $(id -u) = 0 ] && echo setpriv --inh-caps=-dac_override --bounding-set=-dac_override); cp a.wav y; "
     "chmod 444 a.wav b.wav; $U $T b.wav; $U $T a.wav; cmp a.wav y",
     Correct("b.wav") + Unwritten("a.wav")},
    {"PythonReadsEveryFrame",
     "for f in a c; do $T $f.wav; $P -c \"import wave; print(len(wave.open('$f.wav').readframes(99)))\"; done",
     Fixed("a.wav") + "10\n" + Fixed("c.wav") + "10\n"},
    {"LimitsOnStackAndFileSizeInABatch",  // a field across the limit is put back, and the batch goes on
     "cp a.wav y; printf 'a.wav\nb.wav' >l; prlimit --stack=131072 --fsize=42 $T l ./ | cat; cmp a.wav y",
     "Read a list containing 2 files\n" + Unwritten("./a.wav") + Correct("./b.wav")},
    {"ReaderGone",  // the tool writes to a FIFO whose only reader has closed it
     "echo a.wav >l; mkfifo g; exec 3<>g 4>g 3<&-; $T l '' >&4; echo $?; $T a.wav", "1\n" + Correct("a.wav")},
    {"NamesPrintOneWayOnly",  // none forges a line or sends a control; each byte printed as FIX_SIZE's contract says
     R"-($T "$(printf 'a\nb')"; $T "$(printf 'no\033')" ''; )-"
     R"(printf '\\012\037 ~\177\233\302\233\300\257\342\202x\303\251\302\237\365\200\200\200' >l; $T l 'w\')",
     "File called a\\012b cannot be found.\nList called no\\033 does not exist\nRead a list containing 1 files\n"
     R"(File called w\\\\012\037 ~\177\233\302\233\300\257\342\202xé\302\237\365\200\200\200 cannot be found.)"
     "\n"},
    {"ListLines",  // and a list that holds no names
     R"(printf '\n\na.wav\n\n\n%0254d\na.wav\r\na.wav\na\0b\nc.wav\n' 0 >l; $T l ./; echo >e; $T e ''; echo $?)",
     "Read a list containing 5 files\nHeader was fixed successfully in ./a.wav.\nPath for name 2 of the list is "
     "longer than 255 bytes; skipped.\nFile called ./a.wav\\015 cannot be found.\nThe header in ./a.wav appears to "
     "be correct.\nFile called ./a cannot be found.\nRead a list containing 0 files\n1\n"},
    {"First512NamesEachFileClosed", "yes b.wav | head -n 512 >l; echo a.wav >>l; prlimit --nofile=16 $T l '' | uniq -c",
     "      1 Read a list containing 512 files\n    512 " + Correct("b.wav")},
};

class Cli : public testing::TestWithParam<Row> {};

// Each command is killed after 5 s, so that a fault that loops fails at once and leaves nothing behind.
TEST_P(Cli, PrintsExactlyTheseLines) {
  const TempDir dir;
  WriteFile(dir.path / "a.wav", Wave(36, 0, 10));
  WriteFile(dir.path / "b.wav", Wave(46, 10, 10));
  WriteFile(dir.path / "c.wav", Wave(36, 10, 10));
  WriteFile(dir.path / "command", "T='sh t' P=" WAVMEND_PYTHON "\n" + GetParam().command);
  WriteFile(dir.path / "t", "exec " WAVMEND_EMULATOR " " WAVMEND_TOOL " \"$@\" 2>&1");
  EXPECT_EQ(std::system(("cd '" + dir.path.string() + "' && timeout 5 sh command >out 2>/dev/null").c_str()), 0);
  EXPECT_EQ(ReadFile(dir.path / "out"), GetParam().want) << GetParam().command;
}

INSTANTIATE_TEST_SUITE_P(Commands, Cli, testing::ValuesIn(kRows), [](const auto& row) { return row.param.name; });
#endif

}  // namespace wavmend::test
