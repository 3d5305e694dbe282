// wavmend_32bit [wavefile | list prefix]
#include "cli/batch.h"
#include "cli/usage.h"
#include "repair/repair.h"

int main(int argc, char* argv[]) {
  switch (argc - 1) {
    case 0: return wavmend::Usage();
    case 1: wavmend::FIX_SIZE(argv[1]); return 0;
    case 2: return wavmend::Batch(argv[1], argv[2]);
    default: return 0;  // any other count does nothing
  }
}
