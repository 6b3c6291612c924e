#include "package/package_reader.h"

#include <zlib.h>

#include <cstring>

#include "base/alloc.h"
#include "base/cp932.h"

namespace talven {

namespace {

entry_result refuse(package_reader* r, const char* why, int32_t at) {
  r->msg = why;
  r->msg_offset = at;
  r->data_unread = 0;
  return entry_damaged;
}

// The bytes between here and the package's end.
int64_t bytes_left(const package_reader* r) { return static_cast<int64_t>(r->length) - r->position; }

}  // namespace

int open_package_reader(package_reader* r, FILE* file, int32_t length) {
  std::memset(r, 0, sizeof *r);
  r->file = file;
  r->length = length < 0 ? 0 : length;
  auto* stream = static_cast<z_stream*>(checked_alloc(sizeof(z_stream)));
  std::memset(stream, 0, sizeof *stream);
  if (inflateInit(stream) != Z_OK) {
    checked_free(stream);
    r->msg = "the inflater cannot start";
    return -1;
  }
  r->stream = stream;
  r->in_buffer = static_cast<unsigned char*>(checked_alloc(package_block));
  r->out_buffer = static_cast<unsigned char*>(checked_alloc(package_block));
  return 0;
}

void close_package_reader(package_reader* r) {
  if (r->stream) {
    inflateEnd(static_cast<z_stream*>(r->stream));
    checked_free(r->stream);
  }
  if (r->in_buffer) checked_free(r->in_buffer);
  if (r->out_buffer) checked_free(r->out_buffer);
  release_seen_names(&r->names);
  r->stream = nullptr;
  r->in_buffer = r->out_buffer = nullptr;
}

entry_result next_package_entry(package_reader* r) {
  if (r->msg) return entry_damaged;
  if (r->data_unread && skip_entry_data(r) != 0) return entry_damaged;
  r->entry_offset = r->position;
  ++r->entry_number;
  r->doubt = nullptr;
  r->header_whole = 0;
  // Past the package's end the file may go on (an executable's trailer): those bytes
  // are not the package's, so a cut is judged by the package's length, field by field.
  const int64_t inside = bytes_left(r);
  if (inside < name_field_at) {
    std::memset(&r->entry, 0, sizeof r->entry);
    return refuse(r, inside <= 0 ? "the package ends without its end marker" : "the package ends inside the name length",
                  r->length);
  }
  const char* why = nullptr;
  int32_t at = r->position;
  entry_result header = parse_entry_header(r->file, &r->entry, &r->position, &why, &at);
  if (header == entry_terminator) {
    if (r->position != r->length) return refuse(r, "bytes follow the end marker", r->position);
    return entry_terminator;
  }
  const int64_t n = r->entry.name_length;
  if (n <= max_entry_name && entry_header_bytes(n) > inside) {
    if (inside < size_field_at(n)) {
      r->entry.name[inside - name_field_at] = '\0';
      return refuse(r, "the package ends inside the name", r->length);
    }
    return refuse(r, inside < packed_field_at(n) ? "the package ends inside the size"
                                                  : "the package ends inside the packed size",
                  r->length);
  }
  if (header == entry_damaged) return refuse(r, why, at);
  r->header_whole = 1;
  const package_entry& e = r->entry;
  if (const char* damage = entry_name_damage(e.name, e.name_length)) return refuse(r, damage, r->entry_offset + static_cast<int32_t>(name_field_at));
  const char* doubt = nullptr;
  if (const char* clash = note_entry_name(&r->names, e.name, e.size == folder_entry_size, &doubt))
    return refuse(r, clash, r->entry_offset + static_cast<int32_t>(name_field_at));
  r->doubt = doubt ? doubt : entry_name_doubt(e.name);
  if (e.size == folder_entry_size) return entry_read;
  if (file_data_bytes(e.packed_size) > bytes_left(r)) {
    if (bytes_left(r) < entry_time_bytes) return refuse(r, "the package ends inside the time stamp", r->length);
    return refuse(r, "its data runs past the end of the package", r->length);
  }
  if (read_entry_time(r->file, &r->entry, &r->position) != 0)
    return refuse(r, "the file ends inside the time stamp", r->position - entry_time_bytes);
  r->data_unread = 1;
  return entry_read;
}

int skip_entry_data(package_reader* r) {
  if (!r->data_unread) return 0;
  r->data_unread = 0;
  // next_package_entry has made sure the data lies inside the package.
  if (std::fseek(r->file, r->entry.packed_size, SEEK_CUR) != 0)
    return refuse(r, "cannot seek over its data", r->position);
  r->position += r->entry.packed_size;
  return 0;
}

int inflate_current_entry(package_reader* r, const inflate_sink* sink) {
  if (!r->data_unread) return refuse(r, "no file data to inflate here", r->position);
  r->data_unread = 0;
  const int32_t data_start = r->position;
  int32_t written = 0;
  const char* why = nullptr;
  int failed = inflate_data(r->stream, r->in_buffer, r->out_buffer, r->file, r->entry.packed_size, r->entry.size,
                            sink, &r->position, &written, &why);
  if (failed == 2) {
    refuse(r, why, data_start);
    return entry_write_failed;
  }
  if (failed) return refuse(r, why, data_start);
  if (written != r->entry.size) return refuse(r, "it inflates to fewer bytes than its declared size", data_start);
  return 0;
}

int refuse_entry(package_reader* r, const char* why, int result) {
  refuse(r, why, r->entry_offset + static_cast<int32_t>(name_field_at));
  return result;
}

startup_rule startup_action(const package_entry* entry) {
  const char* separator = mb_find_char(entry->name, '\\');
  if (entry->size == folder_entry_size) return separator && separator[1] != '\0' ? startup_stop : startup_skip;
  if (!name_contains(entry->name, "insttscr.rct") && !name_contains(entry->name, "install.env") &&
      !name_contains(entry->name, ".txt"))
    return startup_skip;
  return separator ? startup_refuse : startup_write;
}

int name_contains(const char* name, const char* pattern) {
  char lower_name[260];
  char lower_pattern[260];
  if (copy_text(lower_name, sizeof lower_name, name) != 0 ||
      copy_text(lower_pattern, sizeof lower_pattern, pattern) != 0)
    return 0;
  mb_lower(lower_name);
  mb_lower(lower_pattern);
  return mb_find_text(lower_name, lower_pattern) != nullptr ? 1 : 0;
}

}  // namespace talven
