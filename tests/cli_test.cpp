#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "repair/repair.h"
#include "support.h"

namespace wavmend::test {
namespace {

const std::string kCorrect = "The header in f.wav appears to be correct.\n";
const std::string kFixed = "Header was fixed successfully in f.wav.\n";
const std::string kNoTag = "Cannot find data block in wave file!\n";

// `h` bytes of filler, then the tag, its size field and `audio` bytes.
std::string TagAt(std::size_t h, std::uint32_t stored, std::size_t audio, const char* tag = "data") {
  return std::string(h, 'x') + tag + Le32(stored) + std::string(audio, '\0');
}

// `bytes` with the size field of a tag at `h` set to `value`.
std::string WithSize(std::string bytes, std::size_t h, std::uint32_t value) {
  return bytes.replace(h + 4, 4, Le32(value));
}

std::string Chunks(int count, const std::string& chunk) {
  std::string run;
  for (int i = 0; i < count; ++i) run += chunk;
  return run;
}

class Cli : public ::testing::Test {
 protected:
  Output Run(const std::vector<std::string>& args) { return test::Run(args, dir.path()); }
  TempDir dir;
};

TEST_F(Cli, NoArgumentsPrintUsage) {
  const char* lines[] = {"", "Wavmend 1.01", "",
      "This program will fix a wavefile header that indicates an incorrect file length.", "",
      "If you enter a single wavefile as the command line argument, one file will be checked/fixed.", "",
      "Example:", "wavmend_32bit guitar.wav", "", "If you enter 2 command line arguments:", "",
      "Argument 1 is a text file containing a list of wavefiles (512 max), each on a new line.",
      "Argument 2 is the directory of the wavefiles.  Include the slash.", "", "Example:",
      "wavmend_32bit mylist.txt WaveFiles/", ""};
  std::string usage;
  for (const char* line : lines) usage += std::string(line) + "\n";
  ExpectOutput(Run({}), usage, 1);
}

TEST_F(Cli, ThreeArgumentsDoNothing) {
  WriteFile(dir / "f.wav", Wave(0, 10));
  ExpectOutput(Run({"f.wav", "f.wav", "f.wav"}), "", 0);
  EXPECT_EQ(ReadFile(dir / "f.wav"), Wave(0, 10));
}

TEST_F(Cli, ChecksOneFile) {
  const std::string trailed = Wave(4, 4);
  const struct {
    const char* name;
    std::string before, out, after;
  } cases[] = {
      {"correct", Wave(100, 100), kCorrect, Wave(100, 100)},
      {"size zero", Wave(0, 100), kFixed, Wave(100, 100)},
      {"size too large", Wave(1000, 100), kFixed, Wave(100, 100)},
      {"ends after size field", Wave(5, 0), kFixed, Wave(0, 0)},
      {"shorter than a probe", "RIFF", kNoTag, "RIFF"},
      {"tag at odd offset", TagAt(37, 0, 8), kNoTag, TagAt(37, 0, 8)},
      {"tag at offset 0", TagAt(0, 0, 8), kNoTag, TagAt(0, 0, 8)},
      {"tag in capitals", TagAt(36, 0, 8, "DATA"), kNoTag, TagAt(36, 0, 8, "DATA")},
      {"tag at 131072", TagAt(131072, 0, 8), kFixed, TagAt(131072, 8, 8)},
      {"tag at 131074", TagAt(131074, 0, 8), kNoTag, TagAt(131074, 0, 8)},
      {"tag across first block", TagAt(4094, 0, 8), kFixed, TagAt(4094, 8, 8)},
      {"size field across first block", TagAt(4092, 0, 8), kFixed, TagAt(4092, 8, 8)},
      {"first even tag wins", TagAt(20, 0, 2) + TagAt(2, 0, 8), kFixed, TagAt(20, 20, 2) + TagAt(2, 0, 8)},
      {"size field cut short", TagAt(36, 0, 0).substr(0, 42),
       "Data block in f.wav is cut short; header left unchanged.\n", TagAt(36, 0, 0).substr(0, 42)},
      {"trailing chunk", trailed + "LIST" + Le32(4) + "abcd", kCorrect, trailed + "LIST" + Le32(4) + "abcd"},
      {"own pad byte only", Wave(99, 100), kCorrect, Wave(99, 100)},
      {"pad then chunk", Wave(3, 4) + "id3 " + Le32(2) + "ab", kCorrect, Wave(3, 4) + "id3 " + Le32(2) + "ab"},
      {"last pad missing", trailed + "bext" + Le32(3) + "abc", kCorrect, trailed + "bext" + Le32(3) + "abc"},
      {"64 chunks", trailed + Chunks(64, "JUNK" + Le32(0)), kCorrect, trailed + Chunks(64, "JUNK" + Le32(0))},
      {"65 chunks", trailed + Chunks(65, "JUNK" + Le32(0)), kFixed,
       WithSize(trailed, 36, 4 + 65 * 8) + Chunks(65, "JUNK" + Le32(0))},
      {"unprintable chunk id", trailed + "LI\x01T" + Le32(0), kFixed, WithSize(trailed, 36, 12) + "LI\x01T" + Le32(0)},
      {"chunk past the end", trailed + "LIST" + Le32(9) + "ab", kFixed,
       WithSize(trailed, 36, 14) + "LIST" + Le32(9) + "ab"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir / "f.wav", c.before);
    ExpectOutput(Run({"f.wav"}), c.out, 0);
    EXPECT_EQ(ReadFile(dir / "f.wav"), c.after);
    if (c.out == kFixed) ExpectOutput(Run({"f.wav"}), kCorrect, 0);
  }
}

TEST_F(Cli, RefusesWhatIsNotARegularFile) {
  std::filesystem::create_directory(dir / "d");
  ASSERT_EQ(::mkfifo((dir / "p").c_str(), 0644), 0);  // a FIFO with no writer must not stall the open
  for (const char* path : {"missing.wav", "d", "p", "/dev/null"}) {
    ExpectOutput(Run({path}), "File called " + std::string(path) + " cannot be found.\n", 0);
  }
}

TEST_F(Cli, ReadOnlyFileForAnOrdinaryUser) {
  std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
  WriteFile(dir / "f.wav", Wave(0, 10));
  ExpectOutput(InChild([] { FIX_SIZE("f.wav"); }, dir.path(), 65534), "File called f.wav cannot be found.\n", 0);
  EXPECT_EQ(ReadFile(dir / "f.wav"), Wave(0, 10));
}

TEST_F(Cli, CorrectFileKeepsItsModificationTime) {
  WriteFile(dir / "f.wav", Wave(10, 10));
  const timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "f.wav").c_str(), past, 0), 0);
  ExpectOutput(Run({"f.wav"}), kCorrect, 0);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "f.wav").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
}

TEST_F(Cli, DataOf4GiBOrMoreGetsTheLargestSize) {
  WriteFile(dir / "f.wav", Wave(0, 0));
  std::filesystem::resize_file(dir / "f.wav", 5ull << 30);  // sparse
  ExpectOutput(Run({"f.wav"}), kFixed, 0);
  EXPECT_EQ(ReadFile(dir / "f.wav", 44), Wave(0xFFFFFFFF, 0));
  EXPECT_EQ(std::filesystem::file_size(dir / "f.wav"), 5ull << 30);
  ExpectOutput(Run({"f.wav"}), kCorrect, 0);
}

TEST_F(Cli, RepairedFileReadsBackInPythonsWaveModule) {
  WriteFile(dir / "f.wav", Wave(0, 1234));
  ExpectOutput(Run({"f.wav"}), kFixed, 0);
  const char* script = "import sys, wave; print(wave.open(sys.argv[1]).getnframes())";
  Output frames = InChild([&] { ::execl(PYTHON3, PYTHON3, "-c", script, "f.wav", nullptr); }, dir.path());
  ExpectOutput(frames, "1234\n", 0);
}

}  // namespace
}  // namespace wavmend::test
