// verify PACKAGE|EXE: reads every entry as the installer would and inflates every file,
// so that a damaged package is found by the maker and not by the player.
#include <cstdio>

#include <cstring>
#include <vector>

#include "archive_view.h"
#include "command.h"
#include "progress_line.h"
#include "game_tree.h"
#include "pack_common.h"
#include "signing.h"

namespace talven::pack {

namespace {

void usage(FILE* to) {
  std::fputs(
      "usage: talven-pack verify [-q|-v] PACKAGE|EXE\n\n"
      "Walks every entry of an install package (or of the package appended to an\n"
      "executable), inflates every file and checks its size. The first damage is\n"
      "reported with the entry's number, name and offset in the file (exit 1): the\n"
      "same verdict, for the same reason, as extract and the installer give. It warns\n"
      "of names Windows alters (an earlier entry of the same name ignoring case, a\n"
      "name part ending in a dot or a space), and when the installer's start-up pass\n"
      "would fail on the package (no install.env, or a settings or text file inside\n"
      "a folder before the first nested folder).\n"
      "A signed executable's signature is reported: whether the signed bytes are\n"
      "unchanged (a changed byte fails verify) and whether its certificate is trusted\n"
      "(osslsigncode; --ca FILE adds the certificates of FILE, e.g. a test certificate).\n"
      "An engine archive made by 'archive' (or its .idx) is checked against its index.\n"
      "  -q  no progress, no summary   -v  name each entry\n",
      to);
}

struct tally {
  const char* path;
  const package_reader* reader;
  startup_check startup;
  progress_line bar;
  long files = 0, folders = 0;
  int64_t size = 0, packed = 0;
  bool verbose = false;
};

// Each entry the walk takes: the tool's name rule (as extract), the start-up pass's
// view, the counts and the doubts that are not damage.
const char* see_entry(void* context, const package_entry* entry) {
  auto* t = static_cast<tally*>(context);
  if (const char* why = name_not_cp932(entry)) return why;
  t->startup.see(entry->name, entry->size == folder_entry_size);
  if (t->reader->doubt)
    std::fprintf(stderr, "talven-pack: warning: %s: entry %s: %s\n", t->path, shown_name(entry->name).c_str(),
                 t->reader->doubt);
  if (t->verbose) std::printf("%s\n", shown_name(entry->name).c_str());
  if (entry->size == folder_entry_size) {
    ++t->folders;
  } else {
    ++t->files;
    t->size += entry->size;
    t->packed += entry->packed_size;
  }
  t->bar.update(static_cast<uint64_t>(t->reader->position), static_cast<size_t>(t->files));
  return nullptr;
}

// One line on a signed executable's signature; signature_broken when its signed bytes
// changed.
int report_signature(const char* path, const char* ca_file) {
  if (!is_signed_executable(path)) {
    std::printf("%s: not signed\n", path);
    return signature_unchecked;
  }
  bool trusted = false;
  std::string detail;
  int result = check_signature(path, ca_file, &trusted, &detail);
  std::printf("%s: signature %s: %s\n", path, result == signature_broken ? "BROKEN" : "present", detail.c_str());
  return result;
}

int run_verify(int argc, char** argv) {
  static const char* const known_options[] = {"-q", "--quiet", "-v", "--verbose", "--ca", "--help", nullptr};
  bool quiet = false, verbose = false;
  const char* ca_file = nullptr;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && (std::strcmp(argv[i], "-q") == 0 || std::strcmp(argv[i], "--quiet") == 0))
      quiet = true;
    else if (i > 0 && (std::strcmp(argv[i], "-v") == 0 || std::strcmp(argv[i], "--verbose") == 0))
      verbose = true;
    else if (i > 0 && i + 1 < argc && std::strcmp(argv[i], "--ca") == 0)
      ca_file = argv[++i];
    else
      args.push_back(argv[i]);
  }
  argc = static_cast<int>(args.size());
  argv = args.data();
  if (int code = check_arguments(argc, argv, "PACKAGE", known_options, usage); code >= 0) return code;
  if (int code = engine_archive_command(argv[1], true); code >= 0) return code;
  package_input input;
  if (open_package_input(argv[1], &input) != 0) return exit_failure;
  tally t;
  t.path = argv[1];
  t.verbose = verbose;
  package_reader reader;
  t.reader = &reader;
  // Blocks of inflated output move the bar by the reader's place in the package.
  pass_output output = {&t, see_entry, nullptr, nullptr, nullptr,
                        {&t, [](void* c, int32_t, int32_t position) {
                           auto* p = static_cast<tally*>(c);
                           p->bar.update(static_cast<uint64_t>(position), static_cast<size_t>(p->files));
                         }},
                        nullptr, nullptr};
  t.bar.start("verifying", static_cast<uint64_t>(input.length), 0, quiet);
  int walked = run_pass(argv[1], &input, check_pass, output, &reader);
  if (walked == 0) t.bar.update(t.bar.total, static_cast<size_t>(t.files));
  t.bar.finish();
  int signature = input.appended ? report_signature(argv[1], ca_file) : signature_unchecked;
  if (walked != 0 || signature == signature_broken) return exit_failure;
  t.startup.warn(argv[1]);
  if (quiet) return exit_ok;
  char line[512];
  std::snprintf(line, sizeof line, "%s: sound: %s, %s, %lld bytes (%lld packed)%s", argv[1],
                count_of(static_cast<size_t>(t.files), "file", "files").c_str(),
                count_of(static_cast<size_t>(t.folders), "folder", "folders").c_str(), static_cast<long long>(t.size),
                static_cast<long long>(t.packed),
                input.appended ? ", appended to an executable" : "");
  print_summary(line);
  return exit_ok;
}

}  // namespace

TALVEN_PACK_COMMAND(verify, "verify", "PACKAGE|EXE: inflate every entry and report the first damage", run_verify);

}  // namespace talven::pack
