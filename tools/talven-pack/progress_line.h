// One progress line on stderr when it is a terminal: percent, a bar, the rate and the time
// left, fitted to the terminal's width so that it never wraps. Redrawn at most ten times a
// second and at the end.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace talven::pack {

struct progress_line {
  bool shown = false;
  std::string label;
  uint64_t total = 0, done = 0;
  size_t items = 0, items_done = 0;
  const char* unit = "files";
  double started = 0, last_drawn = -1;

  // shown when stderr is a terminal and quiet is false.
  void start(const char* what, uint64_t total_bytes, size_t total_items, bool quiet);
  void update(uint64_t bytes_done, size_t items_finished);
  void finish();
};

// The line for a given state, at most width - 1 columns (pure, for the tests and the bar).
std::string progress_text(const char* label, uint64_t total, uint64_t done, size_t items, size_t items_done,
                          const char* unit, double elapsed, int width);

// Columns of the terminal on stderr ($COLUMNS, then the terminal itself, else 80).
int terminal_width();

// A summary line on stdout; on a terminal it is broken between words to fit its width
// (continued lines indented by two), never inside a word or a path.
void print_summary(const std::string& text);
std::string wrap_words(const std::string& text, int width);

double now_seconds();
std::string human_bytes(uint64_t bytes);

}  // namespace talven::pack
