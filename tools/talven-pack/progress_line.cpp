#include "progress_line.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform.h"

namespace talven::pack {

double now_seconds() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::string human_bytes(uint64_t bytes) {
  char text[32];
  if (bytes < 1024)
    std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
  else if (bytes < (1ull << 20))
    std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024);
  else if (bytes < (1ull << 30))
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
  else
    std::snprintf(text, sizeof text, "%.2f GiB", static_cast<double>(bytes) / (1 << 30));
  return text;
}

int terminal_width() {
  if (const char* c = std::getenv("COLUMNS")) {
    int w = std::atoi(c);
    if (w > 0) return w;
  }
  int columns = terminal_columns();
  return columns > 0 ? columns : 80;
}

std::string progress_text(const char* label, uint64_t total, uint64_t done, size_t items, size_t items_done,
                          const char* unit, double elapsed, int width) {
  int percent = total ? static_cast<int>(done * 100 / total) : (items_done == items ? 100 : 0);
  char head[64], count[48], rate[48] = "", left[32] = "";
  std::snprintf(head, sizeof head, "%s %3d%%", label, percent);
  if (items > 0)
    std::snprintf(count, sizeof count, " %zu/%zu %s", items_done, items, unit);
  else
    std::snprintf(count, sizeof count, " %zu %s", items_done, unit);
  if (elapsed > 0.5 && done > 0) {
    double per_second = static_cast<double>(done) / elapsed;
    std::snprintf(rate, sizeof rate, " %s/s", human_bytes(static_cast<uint64_t>(per_second)).c_str());
    if (done < total) {
      long seconds = static_cast<long>(static_cast<double>(total - done) / per_second);
      std::snprintf(left, sizeof left, " %ld:%02ld left", seconds / 60, seconds % 60);
    }
  }
  // Parts in the order they are given up when the terminal is narrow.
  std::string parts[] = {head, count, rate, left};
  int room = width - 1;
  std::string text;
  size_t used = 0;
  for (const std::string& p : parts)
    if (static_cast<int>(used + p.size()) <= room) {
      text += p;
      used += p.size();
    }
  if (text.empty()) text = std::string(head).substr(0, room > 0 ? static_cast<size_t>(room) : 0);
  int bar = room - static_cast<int>(text.size()) - 3;
  if (bar >= 10) {
    if (bar > 40) bar = 40;
    int fill = total ? static_cast<int>(static_cast<uint64_t>(bar) * done / total) : bar;
    std::string b = " [" + std::string(static_cast<size_t>(fill), '#') + std::string(static_cast<size_t>(bar - fill), '.') + "]";
    // The bar goes right after the percent.
    text.insert(std::string(head).size(), b);
  }
  return text;
}

std::string wrap_words(const std::string& text, int width) {
  std::string out, line;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(at, end - at);
    if (!line.empty() && static_cast<int>(line.size() + 1 + word.size()) > width - 1) {
      out += line + "\n";
      line = "  " + word;
    } else {
      line += (line.empty() ? "" : " ") + word;
    }
    at = end + 1;
  }
  return out + line + "\n";
}

void print_summary(const std::string& text) {
  if (output_is_terminal()) {
    std::fputs(wrap_words(text, terminal_width()).c_str(), stdout);
  } else {
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
  }
}

void progress_line::start(const char* what, uint64_t total_bytes, size_t total_items, bool quiet) {
  shown = !quiet && error_is_terminal();
  label = what;
  total = total_bytes;
  items = total_items;
  done = 0;
  items_done = 0;
  started = now_seconds();
  last_drawn = -1;
  update(0, 0);
}

void progress_line::update(uint64_t bytes_done, size_t items_finished) {
  done = bytes_done;
  items_done = items_finished;
  if (!shown) return;
  double t = now_seconds();
  if (last_drawn >= 0 && t - last_drawn < 0.1 && items_done != items) return;
  last_drawn = t;
  std::string text = progress_text(label.c_str(), total, done, items, items_done, unit, t - started, terminal_width());
  // \r and clearing to the end of the line: a shorter line leaves nothing behind.
  std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
  std::fflush(stderr);
}

void progress_line::finish() {
  if (!shown) return;
  last_drawn = -1;
  update(done, items_done);
  std::fputc('\n', stderr);
  shown = false;
}

}  // namespace talven::pack
