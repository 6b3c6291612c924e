#include "pattern.h"

namespace talven::pack {

namespace {

// Bytes of the UTF-8 sequence starting at *s (a stray continuation byte counts alone).
int sequence_length(const char* s) {
  unsigned char c = static_cast<unsigned char>(*s);
  int n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  for (int i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 1;
  return n;
}

// Matches the bracket expression at *p (just past "[") against byte c; *p is left past
// the closing "]". -1 when the bracket is not closed: the "[" is then an ordinary byte.
int match_bracket(const char** p, unsigned char c) {
  const char* q = *p;
  bool negate = *q == '!' || *q == '^';
  if (negate) ++q;
  bool hit = false;
  bool first = true;
  while (*q && (*q != ']' || first)) {
    first = false;
    unsigned char low = static_cast<unsigned char>(*q == '\\' && q[1] ? *++q : *q);
    ++q;
    unsigned char high = low;
    if (*q == '-' && q[1] && q[1] != ']') {
      ++q;
      high = static_cast<unsigned char>(*q == '\\' && q[1] ? *++q : *q);
      ++q;
    }
    if (low <= c && c <= high) hit = true;
  }
  if (*q != ']') return -1;
  *p = q + 1;
  return hit != negate;
}

}  // namespace

bool match_pattern(const char* pattern, const char* text, bool path) {
  // Iterative with one remembered star: on a mismatch the last "*" takes one more
  // character and matching resumes after it. Linear in practice, never exponential.
  const char* p = pattern;
  const char* t = text;
  const char* star_p = nullptr;
  const char* star_t = nullptr;
  while (*t) {
    bool step = false;
    const char* next_p = p;
    int taken = 1;
    if (*p == '*') {
      star_p = ++p;
      star_t = t;
      continue;
    }
    if (*p == '?' && !(path && *t == '/')) {
      next_p = p + 1;
      taken = sequence_length(t);
      step = true;
    } else if (*p == '[' && !(path && *t == '/')) {
      const char* q = p + 1;
      int r = match_bracket(&q, static_cast<unsigned char>(*t));
      if (r == 1) {
        next_p = q;
        step = true;
      } else if (r < 0 && *t == '[') {
        next_p = p + 1;
        step = true;
      }
    } else if (*p == '\\' && p[1]) {
      step = p[1] == *t;
      next_p = p + 2;
    } else if (*p) {
      step = *p == *t;
      next_p = p + 1;
    }
    if (step) {
      p = next_p;
      t += taken;
      continue;
    }
    // Back to the last star, which takes one more character (never a "/" in a path).
    if (!star_p || (path && *star_t == '/')) return false;
    star_t += sequence_length(star_t);
    p = star_p;
    t = star_t;
  }
  while (*p == '*') ++p;
  return *p == '\0';
}

}  // namespace talven::pack
