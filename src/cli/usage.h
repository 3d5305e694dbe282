// SPDX-License-Identifier: MIT
#pragma once

namespace wavmend {

// Prints the usage text on standard output and returns the exit status that goes with it, 1.
int Usage();

}  // namespace wavmend
