#include <filesystem>

#include <gtest/gtest.h>

#include "support.h"

namespace wavmend::test {
namespace {

std::string Fixed(const std::string& path) { return "Header was fixed successfully in " + path + ".\n"; }
std::string Correct(const std::string& path) { return "The header in " + path + " appears to be correct.\n"; }
std::string Missing(const std::string& path) { return "File called " + path + " cannot be found.\n"; }
std::string Count(int n) { return "Read a list containing " + std::to_string(n) + " files\n"; }
std::string Repeat(int count, const std::string& text) {
  std::string run;
  for (int i = 0; i < count; ++i) run += text;
  return run;
}

const std::string kBroken = Wave(0, 10);
const std::string kSkipped = "Path for name 1 of the list is longer than 255 bytes; skipped.\n";

TEST(Batch, ChecksEachListedFileUnderThePrefix) {
  TempDir dir;
  std::filesystem::create_directory(dir / "w");
  const std::string abs = dir / "w/a.wav", cut = "w/" + std::string(253, 'n');  // what a 255-byte truncation names
  const struct {
    const char* name;
    std::string list, prefix, out;
    const char* list_path = "list";
    int status = 0;
    std::string untouched = "";
  } cases[] = {
      {"prefix with slash", "a.wav\nb.wav\n", "w/", Count(2) + Fixed("w/a.wav") + Correct("w/b.wav")},
      {"prefix without slash", "a.wav\n", "w", Count(1) + Missing("wa.wav")},
      {"empty prefix, relative name", "w/a.wav", "", Count(1) + Fixed("w/a.wav")},
      {"empty prefix, absolute name", abs, "", Count(1) + Fixed(abs)},
      {"CR LF line ends", "a.wav\r\nb.wav\r\n", "w/", Count(2) + Missing("w/a.wav\r") + Missing("w/b.wav\r")},
      {"runs of LF", "\n\na.wav\n\n\nb.wav", "w/", Count(2) + Fixed("w/a.wav") + Correct("w/b.wav")},
      {"zero byte ends the list", std::string("b.wav\na.w\0av\nb.wav\n", 19), "w/", Count(2) + Correct("w/b.wav") + Missing("w/a.w")},
      {"name listed twice", "a.wav\na.wav\n", "w/", Count(2) + Fixed("w/a.wav") + Correct("w/a.wav")},
      {"600 names", Repeat(512, "b.wav\n") + Repeat(88, "a.wav\n"), "w/", Count(512) + Repeat(512, Correct("w/b.wav")), "list", 0, "w/a.wav"},
      {"empty list", "", "w/", Count(0), "list", 1},
      {"LFs only", "\n\n\n", "w/", Count(0), "list", 1},
      {"missing list", "", "", "List called nolist does not exist\n", "nolist", 1},
      {"list is a directory", "", "", "List called w cannot be read\n", "w", 1},
      {"path over 255 bytes", std::string(254, 'n') + "\na.wav\n", "w/", Count(2) + kSkipped + Fixed("w/a.wav"), "list", 0, cut},
      {"name over 255 bytes", std::string(300, 'n') + "\na.wav\n", "", Count(2) + kSkipped + Missing("a.wav")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir / "w/a.wav", kBroken);
    WriteFile(dir / "w/b.wav", Wave(10, 10));
    WriteFile(dir / cut, kBroken);
    WriteFile(dir / "list", c.list);
    ExpectOutput(test::Run({c.list_path, c.prefix}, dir.path()), c.out, c.status);
    if (!c.untouched.empty()) {
      EXPECT_EQ(ReadFile(dir / c.untouched), kBroken);
    }
  }
}

TEST(Batch, ReadsTheListFromAPipe) {
  TempDir dir;
  WriteFile(dir / "a.wav", kBroken);
  ExpectOutput(test::Run({"/dev/stdin", ""}, dir.path(), "a.wav\na.wav\n"), Count(2) + Fixed("a.wav") + Correct("a.wav"), 0);
}

}  // namespace
}  // namespace wavmend::test
