// wavmend_32bit [wavefile | list prefix]
#include "cli/usage.h"
#include "repair/repair.h"

int main(int argc, char* argv[]) {
  switch (argc - 1) {
    case 0: return wavmend::Usage();
    case 1: wavmend::FIX_SIZE(argv[1]); return 0;
    default: return 0;  // any other count does nothing
  }
}
