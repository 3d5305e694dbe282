#include "support.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

namespace wavmend::test {

TempDir::TempDir() {
  char name[] = "/tmp/wavmend-test-XXXXXX";
  if (::mkdtemp(name) == nullptr) std::abort();
  path_ = name;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

namespace {

std::string Drain(int fd) {
  std::string text;
  char buf[4096];
  ::lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  return text;
}

}  // namespace

Output InChild(const std::function<void()>& body, const std::string& cwd, std::optional<uid_t> uid) {
  // Memory files rather than pipes, so a chatty child can never block on a full pipe.
  const int out = ::memfd_create("stdout", 0), err = ::memfd_create("stderr", 0);
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    if (uid && (::setgroups(0, nullptr) != 0 || ::setgid(*uid) != 0 || ::setuid(*uid) != 0)) ::_exit(126);
    body();
    std::fflush(nullptr);
    ::_exit(0);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  return {Drain(out), Drain(err), WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1};
}

Output Run(const std::vector<std::string>& args, const std::string& cwd, std::string_view input) {
  return InChild(
      [&] {
        int fds[2];
        if (::pipe(fds) != 0 || ::write(fds[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
          ::_exit(126);
        }
        ::close(fds[1]);
        ::dup2(fds[0], 0);
        std::vector<char*> argv{const_cast<char*>(WAVMEND_BIN)};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(WAVMEND_BIN, argv.data());
        ::_exit(127);
      },
      cwd);
}

void ExpectOutput(const Output& got, std::string_view out, int status) {
  EXPECT_EQ(got.out, out);
  EXPECT_EQ(got.err, "");
  EXPECT_EQ(got.status, status);
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path, std::size_t max) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes;
  for (std::istreambuf_iterator<char> it(in), end; it != end && bytes.size() < max; ++it) bytes += *it;
  return bytes;
}

std::string Le32(std::uint32_t value) {
  std::string field(4, '\0');
  for (char& byte : field) {
    byte = static_cast<char>(value & 0xFF);
    value >>= 8;
  }
  return field;
}

std::string Wave(std::uint32_t stored, std::size_t audio) {
  std::string riff = "RIFF" + Le32(static_cast<std::uint32_t>(36 + audio)) + "WAVEfmt " + Le32(16);
  riff += std::string("\x01\x00\x01\x00", 4) + Le32(8000) + Le32(8000) + std::string("\x01\x00\x08\x00", 4);
  return riff + "data" + Le32(stored) + std::string(audio, '\x80');
}

}  // namespace wavmend::test
