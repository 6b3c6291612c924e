// The install sequence.
#pragma once

namespace talven {

// 0 after a completed install, -1 after a stop before extraction.
int run_install();

// The chosen install folder while run_install runs its entry passes.
extern const char* install_path;

}  // namespace talven
