// The resolver's one lock, behind a seam: a critical section on Windows
// (resolver_lock_win.cpp), a std::mutex on the host (resolver_lock_host.cpp).
// The resolver keeps the "exists" flag and calls create once, delete once at exit.
#pragma once

namespace talven {

void resolver_lock_create();
void resolver_lock_enter();
void resolver_lock_leave();
void resolver_lock_delete();

}  // namespace talven
