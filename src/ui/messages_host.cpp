// Host side of the message boxes. Nobody sits at a host run (unit tests, tools) to answer
// a box, so each text goes to stderr and every question takes the answer that stops:
// Retry/Cancel acts as Cancel and Yes/No as No. There is no clipboard and no owner window.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "base/messages.h"

namespace talven {

namespace {

void print_message(const char* format, va_list args) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace

void show_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_message(format, args);
  va_end(args);
}

void show_error_retry(const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_message(format, args);
  va_end(args);
  std::exit(-1);
}

int ask_yes_no(const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_message(format, args);
  va_end(args);
  return 0;
}

int ask_yes_no_default_no(const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_message(format, args);
  va_end(args);
  return 0;
}

void show_notice(const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_message(format, args);
  va_end(args);
}

int copy_text_to_clipboard(const char* text) { return -1; }

const char* owner_title() { return ""; }

}  // namespace talven
