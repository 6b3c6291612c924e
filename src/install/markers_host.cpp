// Host side of the marker seams: the host has no drives to ask and no install sequence.
#include "install/install.h"
#include "install/markers.h"

namespace talven {

// On Windows the install sequence defines this; on the host it stays unset until a test
// sets it.
const char* install_path = nullptr;

// No drive is a CD-ROM drive here, so the fallback root every such machine gets.
const char* cdrom_root() { return "E:\\"; }

}  // namespace talven
