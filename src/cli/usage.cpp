// SPDX-License-Identifier: MIT
#include "cli/usage.h"

#include <cstdio>

namespace wavmend {

int Usage() {
  std::fputs(
      "\n"
      "Wavmend " WAVMEND_VERSION
      "\n"
      "\n"
      "This program will fix a wavefile header that indicates an incorrect file length.\n"
      "\n"
      "If you enter a single wavefile as the command line argument, one file will be checked/fixed.\n"
      "\n"
      "Example:\n"
      "wavmend_32bit guitar.wav\n"
      "\n"
      "If you enter 2 command line arguments:\n"
      "\n"
      "Argument 1 is a text file containing a list of wavefiles (512 max), each on a new line.\n"
      "Argument 2 is the directory of the wavefiles.  Include the slash.\n"
      "\n"
      "Example:\n"
      "wavmend_32bit mylist.txt WaveFiles/\n"
      "\n",
      stdout);
  return 1;
}

}  // namespace wavmend
