// A file that must not outlive an interrupted command: pack's temporary package,
// extract's half-written file. On any signal that would end the process (SIGINT, SIGTERM,
// SIGHUP, SIGPIPE, SIGQUIT, ...) it is removed and the signal then ends the process as it
// would have; signals the caller ignores stay ignored.
#pragma once

namespace talven::pack {

// Registers path (copied; at most one at a time) for removal on a signal; null clears.
void remove_on_signal(const char* path);

// A fresh temporary name beside target ("TARGET.tmp-XXXXXX", created empty with mode 0600
// by mkstemp, so no existing file is ever taken over), already registered with
// remove_on_signal. Returns the open descriptor, or -1 with errno set.
int make_temporary_beside(const char* target, char* name, unsigned long size);

}  // namespace talven::pack
