#include <windows.h>

#include "engine/resolver_lock.h"

namespace talven {

namespace {
CRITICAL_SECTION resolver_section;
}  // namespace

void resolver_lock_create() { InitializeCriticalSection(&resolver_section); }
void resolver_lock_enter() { EnterCriticalSection(&resolver_section); }
void resolver_lock_leave() { LeaveCriticalSection(&resolver_section); }
void resolver_lock_delete() { DeleteCriticalSection(&resolver_section); }

}  // namespace talven
