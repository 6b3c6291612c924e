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

// Texts shared by the programs (CP932; built in src/ui). A %s is a name as the system
// gave it, characters without a CP932 form shown as "?".
// Before an install or uninstall on a system whose ANSI code page is not 932.
extern const char msg_foreign_code_page[];
// The destination the player typed or browsed to has no CP932 form.
extern const char msg_destination_not_cp932[];
// A folder or file the system named (the program's own, the temporary or a special
// folder) has no CP932 form.
extern const char msg_name_not_cp932[];

int copy_text_to_clipboard(const char* text);
const char* owner_title();

}  // namespace talven
