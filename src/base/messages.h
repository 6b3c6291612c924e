// Error and question boxes. Formats follow sprintf; at most one argument is used by any
// text of the program, the signatures take up to four. Texts are CP932.
#pragma once

namespace talven {

void show_error(const char* format, ...);
// Returns only after Retry; Cancel ends the process with exit code -1.
void show_error_retry(const char* format, ...);
// 1 for Yes, else 0.
int ask_yes_no(const char* format, ...);
// The same question with No as the default button, for answers that lose data.
int ask_yes_no_default_no(const char* format, ...);
// A plain notice with an OK button (information icon, not copied to the clipboard).
void show_notice(const char* format, ...);

int copy_text_to_clipboard(const char* text);
const char* owner_title();

}  // namespace talven
