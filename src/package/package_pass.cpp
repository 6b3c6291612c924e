#include "package/package_pass.h"

namespace talven {

int run_package_pass(package_reader* r, const char* destination, pass_mode mode, const pass_output* out) {
  static const pass_output nothing = {nullptr, nullptr, nullptr, nullptr,
                                      nullptr, {nullptr, nullptr}, nullptr, nullptr};
  if (!out) out = &nothing;
  char output_path[output_path_size];
  for (;;) {
    int header = next_package_entry(r);
    if (header == entry_terminator) return 0;
    if (header != entry_read) return entry_damaged;
    const package_entry* e = &r->entry;
    const bool folder = e->size == folder_entry_size;
    if (mode == startup_pass) {
      switch (startup_action(e)) {
        case startup_stop:
          return 0;
        case startup_skip:
          if (skip_entry_data(r) != 0) return entry_damaged;
          continue;
        case startup_refuse:
          return refuse_entry(r, "the start-up pass cannot write a file inside a folder", entry_damaged);
        default:
          break;
      }
    }
    if (out->check) {
      if (const char* why = out->check(out->context, e)) return refuse_entry(r, why, entry_damaged);
    }
    if (mode != check_pass && out->leave && out->leave(out->context, e)) {
      if (folder) continue;
      inflate_sink nothing = {nullptr, nullptr, out->progress};
      if (int result = inflate_current_entry(r, &nothing)) return result;
      continue;
    }
    const char* path = nullptr;
    if (destination && mode != check_pass) {
      if (compose_output_path(output_path, sizeof output_path, destination, e->name) != 0)
        return refuse_entry(r, "the output path would pass 256 bytes", entry_write_failed);
      path = output_path;
    }
    if (folder) {
      if (mode != startup_pass && mode != check_pass && out->make_folder && out->make_folder(out->context, e, path) != 0)
        return refuse_entry(r, "the folder cannot be made", entry_write_failed);
      continue;
    }
    inflate_sink sink = {nullptr, nullptr, out->progress};
    void* file = nullptr;
    if (mode != check_pass && out->open_file) {
      file = out->open_file(out->context, e, path);
      if (!file) return refuse_entry(r, "the file cannot be made", entry_write_failed);
      sink.context = file;
      sink.write = out->write ? out->write : write_to_stream;
    }
    int result = inflate_current_entry(r, &sink);
    if (file && out->close_file(out->context, file, e, path, result == 0) != 0 && result == 0)
      return refuse_entry(r, "the file could not be written", entry_write_failed);
    if (result != 0) return result;
  }
}

int extract_with(FILE* package, int32_t length, const char* destination, pass_mode mode, const pass_output* output,
                 const char** refusal) {
  // An empty destination would put the entries at the root of the current drive.
  if (!destination || destination[0] == '\0') {
    *refusal = "no destination";
    std::fclose(package);
    return -1;
  }
  package_reader reader;
  int result = open_package_reader(&reader, package, length);
  if (result == 0) result = run_package_pass(&reader, destination, mode == full_pass_quiet ? full_pass : mode, output);
  *refusal = reader.msg;
  close_package_reader(&reader);
  std::fclose(package);
  return result == 0 ? 0 : -1;
}

}  // namespace talven
