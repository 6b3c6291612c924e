// What a stored entry name may be. Damage is refused by every reader alike (verify,
// extract and both installer passes); a doubt is only a warning, shown by verify.
#pragma once
#include <cstddef>
#include <cstdint>

namespace talven {

// 0 when the name stays inside the destination: no empty component (a folder name may
// end in one backslash), no component made only of dots and spaces ("." / ".." and what
// Windows trims to them), no colon anywhere (drives, streams), no leading backslash or
// slash. Both "\" and "/" separate components; CP932 trail bytes never do. -1 otherwise.
int check_entry_name(const char* name);

// 1 when the n bytes at p are only dots and spaces: Windows drops trailing dots and
// spaces from a path component, so "..", "... " and ". ." all name the parent or the
// folder itself there, never a real name.
int only_dots_and_spaces(const char* p, size_t n);

// Why the name (n stored bytes, NUL included) cannot be written as stored, or null:
//  - a NUL inside its n bytes (the name would silently end there);
//  - a name that leaves the destination (check_entry_name);
//  - a lead byte without its trail byte: not CP932, so no reader can agree on it;
//  - control bytes and < > | ? * ": Windows refuses them, so the install would fail on
//    the player's machine only;
//  - a device name as a part (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an
//    extension): Windows opens the device instead of writing a file.
const char* entry_name_damage(const char* name, unsigned n);

// A doubt that is not damage, or null: a part ending in a dot or a space, which Windows
// drops (the file is still written, under the shorter name).
const char* entry_name_doubt(const char* name);

// The names met so far in a package, compared as Windows compares them (case of A-Z
// and trailing dots and spaces ignored), each with its kind. Parent folders of a name
// count as folders even without their own entry.
struct seen_names {
  uint64_t* slots;  // hash | kind in the low 2 bits; 0 is free
  size_t capacity;  // a power of two, or 0 before the first name
  size_t used;
};

// Notes one entry. Returns the damage: a file where a folder of the same name was (or
// the other way round), which neither Windows nor Linux can hold; or null. *doubt is
// set when an entry of the same name and kind came earlier: the later one wins, which
// loses nothing a sound package needs but is seldom what its maker meant.
const char* note_entry_name(seen_names* names, const char* name, int folder, const char** doubt);
void release_seen_names(seen_names* names);

}  // namespace talven
