// Shell patterns for --exclude, .talvenignore and extract's NAMEs, the same on every
// system: "*" any run of characters, "?" one character (a whole UTF-8 sequence), "[...]"
// one byte of a set ("[!...]" or "[^...]" not of it, "a-z" ranges), "\" takes the next
// character as it is. With `path` set, none of them matches "/".
#pragma once

namespace talven::pack {

bool match_pattern(const char* pattern, const char* text, bool path);

}  // namespace talven::pack
