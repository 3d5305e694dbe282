// SPDX-License-Identifier: MIT
// wavmend_32bit [wavefile | list prefix]
#include <csignal>
#include <cstdio>

#include "cli/batch.h"
#include "cli/usage.h"
#include "repair/repair.h"

int main(int argc, char* argv[]) {
  // A reader that goes away (| head) must not stop the repairs: it is told like any other lost line.
  std::signal(SIGPIPE, SIG_IGN);
  // Nor may a file-size limit kill it inside a write: the write fails instead, and its field is put back.
  std::signal(SIGXFSZ, SIG_IGN);
  int status = 0;
  switch (argc - 1) {
    case 1:
      wavmend::FIX_SIZE(argv[1]);
      break;
    case 2:
      status = wavmend::Batch(argv[1], argv[2]);
      break;
    default:  // none, or more than the tool takes
      status = wavmend::Usage();
      break;
  }
  // The lines are the only report: a caller that lost one must learn it from the status.
  return std::fflush(stdout) != 0 || std::ferror(stdout) ? 1 : status;
}
