#include <sys/wait.h>

#include <cstdio>
#include <optional>

#include <gtest/gtest.h>

#include "support.h"

namespace wavmend::test {
namespace {

using Output = std::pair<std::string, int>;  // standard output and error together, and the exit status

// Runs shell `command` in `dir` with $T naming the tool. Standard error joins standard output, so an
// expected output also says that nothing went to standard error.
Output Shell(const TempDir& dir, const std::string& command) {
  const std::string line = "cd " + dir.path.string() + " && T=" WAVMEND_BIN "; (" + command + ") 2>&1";
  std::FILE* pipe = ::popen(line.c_str(), "r");
  std::string out;
  for (int c; (c = std::fgetc(pipe)) != EOF;) out += static_cast<char>(c);
  return {out, WEXITSTATUS(::pclose(pipe))};
}

std::string Fixed(const std::string& path) { return "Header was fixed successfully in " + path + ".\n"; }
std::string Correct(const std::string& path) { return "The header in " + path + " appears to be correct.\n"; }
std::string Missing(const std::string& path) { return "File called " + path + " cannot be found.\n"; }
std::string Count(int n) { return "Read a list containing " + std::to_string(n) + " files\n"; }

// A RIFF WAVE header and filler up to `h`, then the tag, its size field and `audio` bytes.
std::string TagAt(std::size_t h, std::uint32_t stored, std::size_t audio, const char* tag = "data") {
  return "RIFF" + Le32(0) + "WAVE" + std::string(h - 12, 'x') + tag + Le32(stored) + std::string(audio, '\0');
}

TEST(Cli, ChecksOneFile) {
  const std::string four = Wave(4, 4), junk = "JUNK" + Le32(0), no_tag = "Cannot find data block in wave file!\n";
  const std::string alien = "File called f.wav is not a RIFF WAVE file; left unchanged.\n", info = "LIST" + Le32(4) + "INFO";
  const std::string ds64 = "ds64" + Le32(28) + std::string(28, '\0') + "data" + Le32(0xFFFFFFFF) + "ab";
  std::string spelt = Wave(0, 100);
  spelt.replace(4, 4, "data");
  const struct {
    const char* name;
    std::string before, out;
    std::optional<std::uint32_t> size;  // the size field afterwards, where it changes
    std::size_t h = 36;
  } cases[] = {
      {"correct", Wave(100, 100), Correct("f.wav"), {}},
      {"size zero", Wave(0, 100), Fixed("f.wav"), 100},
      {"ends after size field", Wave(5, 0), Fixed("f.wav"), 0},
      {"tag at odd offset", TagAt(37, 0, 8), no_tag, {}},
      {"RIFF size spells data", spelt, Fixed("f.wav"), 100},
      {"text", "Some data, more data\n", alien, {}},
      {"RF64", "RF64" + Le32(0xFFFFFFFF) + "WAVE" + ds64, alien, {}},
      {"BW64", "BW64" + Le32(0xFFFFFFFF) + "WAVE" + ds64, alien, {}},
      {"RIFX", "RIFX\0\0\0\x2cWAVE" + TagAt(36, 0, 8).substr(12), alien, {}},
      {"Wave64", "riff\x2e\x91\xcf\x11" + std::string(20, '\0') + "wave" + std::string(12, '\0') + "data" + Le32(0), alien, {}},
      {"AIFF", "FORM" + Le32(30) + "AIFFCOMT" + Le32(10) + "xxdata" + Le32(0), alien, {}},
      {"AVI", "RIFF" + Le32(30) + "AVI LIST" + Le32(10) + "xxdata" + Le32(0), alien, {}},
      {"11 bytes", "RIFF\0\0\0\0WAV", alien, {}},
      {"placeholder 0, appended LIST", Wave(0, 10) + info, Fixed("f.wav"), 10},
      {"placeholder 7FFF0000", Wave(0x7FFF0000, 10) + info, Fixed("f.wav"), 10},
      {"placeholder FFFFFFFF", Wave(0xFFFFFFFF, 10) + info, Fixed("f.wav"), 10},
      {"appended bext, id3", Wave(0, 10) + "bext" + Le32(2) + "ab" + "id3 " + Le32(0), Fixed("f.wav"), 10},
      {"odd audio, pad, appended", Wave(0, 5) + std::string(1, '\0') + info, Fixed("f.wav"), 6},
      {"appended run begins over 1 MiB before the end", Wave(0, 10) + "JUNK" + Le32(1 << 20) + std::string(1 << 20, 'j'),
       Fixed("f.wav"), 10 + 8 + (1 << 20)},
      {"listed id short of the end", Wave(0, 10) + "LIST" + Le32(100) + "INFO", Fixed("f.wav"), 22},
      {"tag in capitals", TagAt(36, 0, 8, "DATA"), no_tag, {}},
      {"tag at 131072", TagAt(131072, 0, 8), Fixed("f.wav"), 8, 131072},
      {"tag at 131074", TagAt(131074, 0, 8), no_tag, {}},
      {"size field across first block", TagAt(4092, 0, 8), Fixed("f.wav"), 8, 4092},
      {"size field cut short", TagAt(36, 0, 0).substr(0, 42),
       "Data block in f.wav is cut short; header left unchanged.\n", {}},
      {"trailing chunk", four + "LIST" + Le32(4) + "abcd", Correct("f.wav"), {}},
      {"own pad byte only", Wave(99, 100), Correct("f.wav"), {}},
      {"pad then chunk", Wave(3, 4) + "id3 " + Le32(2) + "ab", Correct("f.wav"), {}},
      {"last pad missing", four + "bext" + Le32(3) + "abc", Correct("f.wav"), {}},
      {"64 chunks", four + Repeat(64, junk), Correct("f.wav"), {}},
      {"65 chunks: the last 64 are appended", four + Repeat(65, junk), Fixed("f.wav"), 4 + 8},
      {"unprintable chunk id", four + "LI\x01T" + Le32(0), Fixed("f.wav"), 12},
      {"chunk past the end", four + "LIST" + Le32(9) + "ab", Fixed("f.wav"), 14},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir.path / "f.wav", c.before);
    EXPECT_EQ(Shell(dir, "$T f.wav"), Output(c.out, 0));
    std::string after = c.before;
    if (c.size) after.replace(c.h + 4, 4, Le32(*c.size));
    EXPECT_EQ(ReadFile(dir.path / "f.wav"), after);
    if (c.size) {
      EXPECT_EQ(Shell(dir, "$T f.wav"), Output(Correct("f.wav"), 0));
    }
  }
}

// Each command starts from w/a.wav broken, w/b.wav correct, and the row's text in the file `list`.
TEST(Cli, RunsCommands) {
  TempDir dir;
  const std::string usage =
      "\nWavmend 1.01\n\nThis program will fix a wavefile header that indicates an incorrect file length.\n\n"
      "If you enter a single wavefile as the command line argument, one file will be checked/fixed.\n\n"
      "Example:\nwavmend_32bit guitar.wav\n\nIf you enter 2 command line arguments:\n\n"
      "Argument 1 is a text file containing a list of wavefiles (512 max), each on a new line.\n"
      "Argument 2 is the directory of the wavefiles.  Include the slash.\n\nExample:\nwavmend_32bit mylist.txt WaveFiles/\n\n";
  const std::string abs = dir.path / "w/b.wav", cut = "w/" + std::string(253, 'n');  // a 255-byte truncation
  auto skipped = [](int k) {
    return "Path for name " + std::to_string(k) + " of the list is longer than 255 bytes; skipped.\n";
  };
  const struct {
    const char* name;
    std::string list, command, out;
    int status = 0;
  } cases[] = {
      {"usage", "", "$T", usage, 1},
      {"three arguments", "", "$T w/a.wav w/a.wav w/a.wav && $T w/a.wav", Fixed("w/a.wav")},
      {"not regular files", "", "mkfifo p; $T no.wav; $T w; $T p; $T /dev/null",
       Missing("no.wav") + Missing("w") + Missing("p") + Missing("/dev/null")},
      {"read-only for an ordinary user", "",
       "cp $T t && setpriv --reuid=65534 --regid=65534 --clear-groups ./t w/a.wav && $T w/a.wav",
       Missing("w/a.wav") + Fixed("w/a.wav")},
      {"correct file keeps its time", "", "touch -d @1000000000 w/b.wav && $T w/b.wav && stat -c %Y w/b.wav",
       Correct("w/b.wav") + "1000000000\n"},
      {"4 GiB or more", "", "cp w/a.wav big && truncate -s 5G big && $T big && $T big && od -An -tx1 -j40 -N4 big",
       Fixed("big") + Correct("big") + " ff ff ff ff\n"},
      {"output lost, one file", "", "$T w/a.wav >/dev/full; echo $? && $T w/a.wav", "1\n" + Correct("w/a.wav")},
      {"output lost, batch", "a.wav\n", "$T list w/ >/dev/full; echo $? && $T w/a.wav", "1\n" + Correct("w/a.wav")},
      {"Python's wave module reads the repair", "",
       "$T w/a.wav >/dev/null && /usr/bin/python3 -c 'import wave; print(wave.open(\"w/a.wav\").getnframes())'", "10\n"},
      {"prefix with slash", "a.wav\nb.wav\n", "$T list w/", Count(2) + Fixed("w/a.wav") + Correct("w/b.wav")},
      {"prefix without slash", "a.wav\n", "$T list w", Count(1) + Missing("wa.wav")},
      {"empty prefix", "w/a.wav\n" + abs, "$T list ''", Count(2) + Fixed("w/a.wav") + Correct(abs)},
      {"CR LF", "a.wav\r\nb.wav\r\n", "$T list w/", Count(2) + Missing("w/a.wav\r") + Missing("w/b.wav\r")},
      {"runs of LF", "\n\na.wav\n\n\nb.wav", "$T list w/", Count(2) + Fixed("w/a.wav") + Correct("w/b.wav")},
      {"zero byte", std::string("b.wav\na.w\0av\nb.wav\n", 19), "$T list w/",
       Count(2) + Correct("w/b.wav") + Missing("w/a.w")},
      {"listed twice, through a pipe", "a.wav\na.wav\n", "cat list | $T /dev/stdin w/",
       Count(2) + Fixed("w/a.wav") + Correct("w/a.wav")},
      {"600 names", Repeat(512, "b.wav\n") + Repeat(88, "a.wav\n"), "$T list w/ && $T w/a.wav",
       Count(512) + Repeat(512, Correct("w/b.wav")) + Fixed("w/a.wav")},
      {"empty list, LFs only", "\n\n\n", ": >e; $T e w/ || $T list w/", Count(0) + Count(0), 1},
      {"missing list, list a folder", "", "$T no.txt w/ || $T w w/",
       "List called no.txt does not exist\nList called w cannot be read\n", 1},
      {"path, name over 255 bytes", std::string(254, 'n') + "\n" + std::string(300, 'n') + "\na.wav\n",
       "$T list w/ && $T " + cut, Count(3) + skipped(1) + skipped(2) + Fixed("w/a.wav") + Fixed(cut)},
  };
  std::filesystem::create_directory(dir.path / "w");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const std::string& broken : {std::string("w/a.wav"), cut}) WriteFile(dir.path / broken, Wave(0, 10));
    WriteFile(dir.path / "w/b.wav", Wave(10, 10));
    WriteFile(dir.path / "list", c.list);
    EXPECT_EQ(Shell(dir, c.command), Output(c.out, c.status));
  }
}

}  // namespace
}  // namespace wavmend::test
