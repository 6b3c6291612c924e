#include <mutex>

#include "engine/resolver_lock.h"

namespace talven {

namespace {
// A std::mutex needs no set-up or tear-down; create and delete only mark the lifetime.
std::mutex resolver_mutex;
}  // namespace

void resolver_lock_create() {}
void resolver_lock_enter() { resolver_mutex.lock(); }
void resolver_lock_leave() { resolver_mutex.unlock(); }
void resolver_lock_delete() {}

}  // namespace talven
