// Host side of the marker seam: the host has no drives to ask.
#include "install/markers.h"

namespace talven {

// No drive is a CD-ROM drive here, so the fallback root every such machine gets.
const char* cdrom_root() { return "E:\\"; }

}  // namespace talven
