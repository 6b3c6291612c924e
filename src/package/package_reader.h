// The package reader shared by the installer's two passes and every command of the
// maker's tool: the next entry (header, time stamp and name rules together), a skip over
// its data, and inflation into a sink, over buffers kept for the whole package. A
// refusal leaves its reason in `msg` (static text, as zlib's stream does) with the
// offset it points at and the entry it belongs to.
#pragma once
#include <cstdint>
#include <cstdio>

#include "package/entry_names.h"
#include "package/package_format.h"

namespace talven {

struct package_reader {
  FILE* file;          // positioned at the next entry
  int32_t length;      // the package's bytes; nothing past them is read
  int32_t position;    // bytes consumed, from the package's first byte
  package_entry entry;  // the current entry; its name as far as it was read
  int32_t entry_offset;
  long entry_number;   // 1 for the first entry; the terminator counts as one
  int data_unread;     // the current file entry's data still lies ahead
  int header_whole;    // the current entry's header fields were all read (its name may be refused)
  const char* msg;     // why the package was refused; null while it is sound
  int32_t msg_offset;  // the package offset the reason points at
  const char* doubt;   // a warning about the current entry that is not damage, or null
  unsigned char* in_buffer;   // 128 KiB each, for the whole package
  unsigned char* out_buffer;
  void* stream;        // the inflater, initialised once
  seen_names names;
};

// Starts reading `length` bytes from the file's current position. 0, or -1 (msg set)
// when the inflater cannot start.
int open_package_reader(package_reader* reader, FILE* file, int32_t length);
// Releases the buffers and the inflater; the file stays open.
void close_package_reader(package_reader* reader);

// Reads the next entry: header, the time stamp of a file entry, the name rules and the
// names met before. entry_read, entry_terminator (only when the package ends right
// there), or entry_damaged with msg set.
entry_result next_package_entry(package_reader* reader);

// Steps over the current file entry's data. 0, or entry_damaged (msg set).
int skip_entry_data(package_reader* reader);

// Inflates the current file entry into the sink (write null: into nothing). Output past
// the declared size stops at once, before it is written; less than it is damage too.
// 0, entry_damaged or entry_write_failed, msg set on both.
int inflate_current_entry(package_reader* reader, const inflate_sink* sink);

// Refuses the current entry from outside the reader (a pass or a tool that cannot
// take it): msg = why, pointing at the entry's name. Returns result.
int refuse_entry(package_reader* reader, const char* why, int result);

// The start-up pass rule for one entry, in package order.
enum startup_rule { startup_write = 0, startup_skip = 1, startup_stop = 2, startup_refuse = 3 };
// A folder whose only backslash ends its name (or that has none) is stepped over; a
// nested one ends the pass. A file whose name contains "insttscr.rct", "install.env" or
// ".txt" (any case) is written, others are skipped; a written one inside a folder cannot
// be, as the pass makes no folders: the pass fails there (startup_refuse).
startup_rule startup_action(const package_entry* entry);

// 1 when pattern occurs in name, both lower-cased by CP932 characters; else 0.
int name_contains(const char* name, const char* pattern);

}  // namespace talven
