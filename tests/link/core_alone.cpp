// Linked with every object of talven_core and nothing else of the program: the link
// fails on any symbol the core needs from outside it. Running it shows two seams answer.
#include <cstdio>

#include "base/alloc.h"
#include "install/markers.h"

int main() {
  void* block = talven::checked_alloc(16);
  std::printf("core links alone; CD-ROM root %s\n", talven::cdrom_root());
  talven::checked_free(block);
  return 0;
}
