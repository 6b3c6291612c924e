// medium GAME_DIR OUT_DIR: the whole distribution medium in one command: setup.exe with
// the package appended (or beside it as instdat.arc), bin/ for an immediate install, the
// readme, a DirectX folder, and on request an ISO 9660 + Joliet image of it all.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cleanup.h"
#include "command.h"
#include "config/settings.h"
#include "pack_common.h"
#include "pack_game.h"
#include "progress_line.h"
#include "platform.h"


namespace talven::pack {

namespace {

namespace fs = std::filesystem;

constexpr uint64_t largest_setup = 0x7FFFFFFFull;  // the installer seeks with signed 32-bit offsets

void usage(FILE* to) {
  std::fprintf(to,
               "usage: talven-pack medium [OPTIONS] GAME_DIR OUT_DIR\n\n"
               "Builds the distribution medium of GAME_DIR in OUT_DIR (made if missing; it must be\n"
               "empty): GAME_DIR is checked and packed as 'pack' does, then\n"
               "  setup.exe       the installer with the package appended (--separate: the\n"
               "                  package beside it as instdat.arc)\n"
               "  bin/            when install.env sets FORCEINSTALL: the game program (EXENAME,\n"
               "                  from GAME_DIR) and UnInst.exe, which the installer copies\n"
               "  the readme      INSTREADMEFL from GAME_DIR, for a reader of the disc\n"
               "  DirectX/        a copy of --directx DIR (its dxsetup.exe is what runs)\n"
               "options:\n"
               "  --separate      instdat.arc beside setup.exe instead of appended to it\n"
               "  --setup PATH    the installer to use; without it setup.exe is looked for beside\n"
               "                  talven-pack, in ../win32/ from it (build/host -> build/win32),\n"
               "                  then in build/win32/ of the source tree it was built from\n"
               "  --uninst PATH   the uninstaller for bin/; without it the UnInst.exe beside the\n"
               "                  setup.exe used (they are built together)\n"
               "  --directx DIR   copied as OUT_DIR/DirectX\n"
               "  --iso FILE      also write an ISO 9660 + Joliet image of OUT_DIR (xorriso)\n"
               "  --label TEXT    its volume label (default: INSTTO in capitals, 16 characters)\n"
               "%s",
               pack_options_help);
}

struct medium_options {
  pack_options pack;
  const char* game = nullptr;
  const char* out = nullptr;
  bool separate = false;
  std::string setup, uninst, directx, iso, label;
};

std::vector<fs::path> build_folders() {
  std::vector<fs::path> folders;
  std::string here = program_folder();
  if (!here.empty()) {
    folders.push_back(path_of(here));
    folders.push_back(path_of(here) / ".." / "win32");
  }
#ifdef TALVEN_SOURCE_DIR
  folders.push_back(path_of(TALVEN_SOURCE_DIR) / "build" / "win32");
#endif
  return folders;
}

std::string find_built(const char* name, const std::vector<fs::path>& folders, std::string* looked) {
  std::error_code ec;
  for (const fs::path& f : folders) {
    fs::path p = (f / name).lexically_normal();
    if (!looked->empty()) *looked += ", ";
    *looked += text_of(p);
    if (fs::is_regular_file(p, ec)) return text_of(p);
  }
  return "";
}

bool copy_with_time(const fs::path& from, const fs::path& to, std::string* error) {
  std::error_code ec;
  if (!fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec)) {
    *error = "cannot copy " + text_of(from) + " to " + text_of(to) + ": " + ec.message();
    return false;
  }
  fs::last_write_time(to, fs::last_write_time(from, ec), ec);
  return true;
}

bool copy_tree(const fs::path& from, const fs::path& to, std::string* error) {
  std::error_code ec;
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  if (ec) {
    *error = "cannot copy " + text_of(from) + " to " + text_of(to) + ": " + ec.message();
    return false;
  }
  return true;
}

// setup.exe, the package, then the package's offset as 4 little-endian bytes.
int write_appended(const std::string& setup, const std::string& package, const std::string& out) {
  FILE* exe = open_file(setup.c_str(), "rb");
  if (!exe) return fail("cannot read %s: %s", setup.c_str(), std::strerror(errno));
  FILE* pkg = open_file(package.c_str(), "rb");
  if (!pkg) {
    std::fclose(exe);
    return fail("cannot read %s: %s", package.c_str(), std::strerror(errno));
  }
  FILE* dst = open_file(out.c_str(), "wb");
  int status = exit_ok;
  if (!dst) status = fail("cannot create %s: %s", out.c_str(), std::strerror(errno));
  uint64_t offset = 0, total = 0;
  std::vector<unsigned char> buffer(1 << 20);
  for (FILE* from : {exe, pkg}) {
    size_t got;
    while (status == exit_ok && (got = std::fread(buffer.data(), 1, buffer.size(), from)) > 0) {
      total += got;
      if (total + 4 > largest_setup) status = fail("%s would pass 2 GiB", out.c_str());
      else if (std::fwrite(buffer.data(), 1, got, dst) != got)
        status = fail("cannot write %s: %s", out.c_str(), std::strerror(errno));
    }
    if (status == exit_ok && std::ferror(from)) status = fail("cannot read a part of %s", out.c_str());
    if (from == exe) offset = total;
  }
  unsigned char trailer[4];
  for (int i = 0; i < 4; ++i) trailer[i] = static_cast<unsigned char>(offset >> (8 * i));
  if (status == exit_ok && std::fwrite(trailer, 1, 4, dst) != 4)
    status = fail("cannot write %s: %s", out.c_str(), std::strerror(errno));
  std::fclose(exe);
  std::fclose(pkg);
  if (dst && std::fclose(dst) != 0 && status == exit_ok)
    status = fail("cannot write %s: %s", out.c_str(), std::strerror(errno));
  if (status != exit_ok) remove_file(out.c_str());
  return status;
}

// The settings the medium needs, read by the installer's store.
struct medium_settings {
  bool force = false;
  std::string exename, readme, instto;  // UTF-8, "/" separators
};

std::string utf8_path(const char* cp932) {
  std::string u;
  if (!cp932_to_utf8(cp932, &u)) u = cp932;
  for (char& c : u)
    if (c == '\\') c = '/';
  return u;
}

void read_medium_settings(const fs::path& game, medium_settings* s) {
  reset_settings_for_tests();
  FILE* f = open_file(text_of(game / "install.env").c_str(), "rb");
  if (f) {
    load_settings_stream(f);
    std::fclose(f);
  }
  s->force = setting_int("FORCEINSTALL", 0) != 0;
  s->exename = utf8_path(get_exename());
  char readme[128];
  setting_string("INSTREADMEFL", readme, sizeof readme, "readme.txt");
  s->readme = utf8_path(readme);
  s->instto = get_instto();
  reset_settings_for_tests();
}

// An ISO volume label: capitals, digits and "_", at most 16 characters (Joliet's limit).
std::string default_label(const std::string& instto) {
  std::string label;
  for (char c : instto) {
    if (label.size() == 16) break;
    if (c >= 'a' && c <= 'z') label += static_cast<char>(c - 'a' + 'A');
    else if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') label += c;
  }
  return label.empty() ? "TALVEN_GAME" : label;
}

int run_xorriso(const medium_options& o, const std::string& label) {
  std::string tmp = o.iso + ".tmp-" + process_tag();
  std::vector<std::string> args = {"xorriso", "-as",   "mkisofs", "-quiet", "-input-charset", "UTF-8",
                                   "-J",      "-joliet-long", "-V", label, "-o", tmp, o.out};
  remove_on_signal(tmp.c_str());
  std::string why;
  int status = run_program(args, &why);
  remove_on_signal(nullptr);
  if (status < 0) return fail("cannot run xorriso (apt-get install xorriso): %s", why.c_str());
  if (status != 0) {
    remove_file(tmp.c_str());
    return fail("xorriso could not write %s", o.iso.c_str());
  }
  if (replace_file(tmp.c_str(), o.iso.c_str()) != 0) {
    remove_file(tmp.c_str());
    return fail("cannot rename %s to %s: %s", tmp.c_str(), o.iso.c_str(), std::strerror(errno));
  }
  return exit_ok;
}

int parse(int argc, char** argv, medium_options* o) {
  std::vector<const char*> plain;
  for (int i = 1; i < argc; ++i) {
    int r = parse_pack_option("medium", argc, argv, &i, &o->pack);
    if (r < 0) return -1;
    if (r > 0) continue;
    std::string a = argv[i];
    std::string* value = a == "--setup" ? &o->setup : a == "--uninst" ? &o->uninst : a == "--directx" ? &o->directx
                         : a == "--iso" ? &o->iso : a == "--label" ? &o->label : nullptr;
    if (value) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "talven-pack medium: %s needs a value\n", argv[i]);
        return -1;
      }
      *value = argv[++i];
    } else if (a == "--separate") {
      o->separate = true;
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "talven-pack medium: unknown option %s\n", argv[i]);
      return -1;
    } else {
      plain.push_back(argv[i]);
    }
  }
  if (plain.size() != 2) return -1;
  o->game = plain[0];
  o->out = plain[1];
  return 0;
}

int run_medium(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    usage(stdout);
    return exit_ok;
  }
  medium_options o;
  if (parse(argc, argv, &o) != 0) {
    usage(stderr);
    return exit_usage;
  }
  if (!o.iso.empty() && iso_unavailable()) return fail("--iso: %s", iso_unavailable());
  std::error_code ec;
  fs::path game = path_of(o.game), out = path_of(o.out);
  if (!fs::is_directory(game, ec)) return fail("%s is not a folder", o.game);
  std::vector<fs::path> folders = build_folders();
  std::string looked;
  std::string setup = o.setup.empty() ? find_built("setup.exe", folders, &looked) : o.setup;
  if (setup.empty()) return fail("no setup.exe found (looked at %s); build the win32 preset or give --setup PATH", looked.c_str());
  if (!fs::is_regular_file(path_of(setup), ec)) return fail("%s: no such file", setup.c_str());
  if (!o.directx.empty() && !fs::is_directory(path_of(o.directx), ec)) return fail("%s is not a folder", o.directx.c_str());
  if (fs::exists(out, ec)) {
    if (!fs::is_directory(out, ec)) return fail("%s exists and is not a folder", o.out);
    if (!fs::is_empty(out, ec)) return fail("%s is not empty; the medium is built in an empty folder", o.out);
  } else if (!fs::create_directories(out, ec)) {
    return fail("cannot create %s: %s", o.out, ec.message().c_str());
  }
  if (!o.iso.empty()) {
    fs::path iso_folder = fs::weakly_canonical(fs::absolute(path_of(o.iso)).parent_path(), ec);
    fs::path out_folder = fs::weakly_canonical(fs::absolute(out), ec);
    std::string a = text_of(iso_folder) + "/", b = text_of(out_folder) + "/";
    if (a.compare(0, b.size(), b) == 0) return fail("the image %s would be inside the medium %s", o.iso.c_str(), o.out);
  }
  medium_settings settings;
  read_medium_settings(game, &settings);
  o.pack.left_out.push_back(text_of(out));

  fs::path package = out / "instdat.arc";
  std::string package_path = text_of(package);
  o.pack.dir = o.game;
  o.pack.out = package_path.c_str();
  pack_totals totals;
  if (int status = pack_game(o.pack, &totals); status != exit_ok) return status;
  if (!o.separate) {
    int status = write_appended(setup, package_path, text_of(out / "setup.exe"));
    remove_file(package_path.c_str());
    if (status != exit_ok) return status;
    make_executable(text_of(out / "setup.exe").c_str());
  } else {
    std::string error;
    if (!copy_with_time(path_of(setup), out / "setup.exe", &error)) return fail("%s", error.c_str());
  }
  std::string error;
  std::vector<std::string> made = {o.separate ? "setup.exe, instdat.arc" : "setup.exe (package appended)"};
  if (settings.force) {
    fs::path bin = out / "bin";
    fs::create_directories(bin, ec);
    fs::path program = game / path_of(settings.exename);
    if (!fs::is_regular_file(program, ec))
      return fail("FORCEINSTALL is set but the game program %s (EXENAME) is not in %s", settings.exename.c_str(), o.game);
    if (!copy_with_time(program, bin / path_of(settings.exename).filename(), &error)) return fail("%s", error.c_str());
    std::string uninst = o.uninst;
    if (uninst.empty()) {
      // Only the uninstaller built with this setup.exe: one from another build may not
      // read the settings the same way.
      std::vector<fs::path> near = {path_of(setup).parent_path()};
      looked.clear();
      uninst = find_built("UnInst.exe", near, &looked);
    }
    if (uninst.empty()) {
      std::fprintf(stderr,
                   "talven-pack: warning: no UnInst.exe found (looked at %s; give --uninst PATH): bin/ holds only "
                   "the game program, and the installed game will have no uninstaller\n",
                   looked.c_str());
      made.push_back("bin/ (game program only)");
    } else {
      if (!fs::is_regular_file(path_of(uninst), ec)) return fail("%s: no such file", uninst.c_str());
      if (!copy_with_time(path_of(uninst), bin / "UnInst.exe", &error)) return fail("%s", error.c_str());
      made.push_back("bin/");
    }
  }
  fs::path readme = game / path_of(settings.readme);
  if (fs::is_regular_file(readme, ec)) {
    if (!copy_with_time(readme, out / readme.filename(), &error)) return fail("%s", error.c_str());
    made.push_back(text_of(readme.filename()));
  }
  if (!o.directx.empty()) {
    if (!copy_tree(path_of(o.directx), out / "DirectX", &error)) return fail("%s", error.c_str());
    if (!fs::exists(out / "DirectX" / "dxsetup.exe", ec) && !fs::exists(out / "DirectX" / "DXSETUP.exe", ec))
      std::fprintf(stderr, "talven-pack: warning: %s holds no dxsetup.exe, which is what the menu starts\n",
                   o.directx.c_str());
    made.push_back("DirectX/");
  }
  std::string list;
  for (const std::string& m : made) list += (list.empty() ? "" : ", ") + m;
  if (!o.pack.quiet) std::printf("medium %s: %s\n", o.out, list.c_str());
  if (!o.iso.empty()) {
    std::string label = o.label.empty() ? default_label(settings.instto) : o.label;
    if (int status = run_xorriso(o, label); status != exit_ok) return status;
    if (!o.pack.quiet) std::printf("image %s (volume %s)\n", o.iso.c_str(), label.c_str());
  }
  return exit_ok;
}

}  // namespace

TALVEN_PACK_COMMAND(medium, "medium", "GAME_DIR OUT_DIR: the whole medium (setup.exe, package, bin/, readme, ISO)",
                    run_medium);

}  // namespace talven::pack
