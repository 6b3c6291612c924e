// The install sequence.
#pragma once

namespace talven {

// 0 after a completed install, -1 after a stop before extraction. A damaged package ends
// the process inside, after clean_up (the caller's work folder goes).
int run_install(void (*clean_up)());

}  // namespace talven
