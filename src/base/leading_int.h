// The one reading of a leading decimal integer, for every number the installer takes from
// text: setting_int's values of install.env and the "IsInst" text an earlier install left
// in the registry.
#pragma once

namespace talven {

// Blanks skipped, an optional sign, then the decimal digits up to the first non-digit;
// 0 without digits. A value beyond 32 bits is clamped to INT32_MAX or INT32_MIN.
//
// Clamped rather than wrapped (as an unchecked atoi would): a maker who writes a large
// number means a large number, and a wrapped one can come out 0 or negative, which turns
// a switch such as FORCEINSTALL or INSTMAKEFOL off or an "IsInst" flag into "no earlier
// install". Clamping keeps the sign and the non-zero-ness of what was written; within 32
// bits both rules give the same value.
int parse_leading_int(const char* text);

}  // namespace talven
