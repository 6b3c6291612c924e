// The one instance of the process's state.
#include "base/process_state.h"

namespace talven {

namespace {

process_state the_state;

}  // namespace

process_state& state() { return the_state; }

}  // namespace talven
