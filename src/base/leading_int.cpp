#include "base/leading_int.h"

namespace talven {

int parse_leading_int(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  // Stops growing past 2^31, so the sum never overflows however many digits follow.
  long long value = 0;
  for (; *text >= '0' && *text <= '9'; ++text)
    if (value <= 0x80000000LL) value = value * 10 + (*text - '0');
  if (negative) value = -value;
  if (value > 0x7FFFFFFFLL) value = 0x7FFFFFFFLL;
  if (value < -0x80000000LL) value = -0x80000000LL;
  return static_cast<int>(value);
}

}  // namespace talven
