// medium GAME_DIR OUT_DIR: the whole distribution medium in one command: setup.exe with
// the package appended (or beside it as instdat.arc), bin/ for an immediate install, the
// readme, a DirectX folder, and on request an ISO 9660 + Joliet image of it all.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "check.h"
#include "cleanup.h"
#include "command.h"
#include "config/settings.h"
#include "package/package_digest.h"
#include "pe/pe_resources.h"
#include "pack_common.h"
#include "pack_game.h"
#include "progress_line.h"
#include "platform.h"
#include "signing.h"
#include "text_convert.h"


namespace talven::pack {

namespace {

namespace fs = std::filesystem;

constexpr uint64_t largest_setup = 0x7FFFFFFFull;  // the installer seeks with signed 32-bit offsets
constexpr size_t largest_label = 32;               // bytes of an ISO 9660 volume id

void usage(FILE* to) {
  std::fprintf(to,
               "usage: talven-pack medium [OPTIONS] GAME_DIR OUT_DIR\n\n"
               "Builds the distribution medium of GAME_DIR in OUT_DIR (made if missing; it must be\n"
               "empty, or --force replaces what it holds; it cannot be inside GAME_DIR): GAME_DIR is\n"
               "checked and packed as 'pack' does, then\n"
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
               "  --label TEXT    its volume label (default: INSTTO in capitals, 16 characters;\n"
               "                  at most 32 bytes, checked before anything is built)\n"
               "  -y, --force     empty a non-empty OUT_DIR first\n"
               "  --sign KEY.p12  sign setup.exe (after appending) and bin/UnInst.exe\n"
               "  --icon FILE.ico setup.exe shows this icon instead of its own\n"
               "  --version-info  setup.exe's version resource names the game: product TITLEBAR\n"
               "                  (or --product TEXT), version --product-version A.B.C.D\n"
               "                  (default 1.0.0.0), maker --maker TEXT; any of these three\n"
               "                  options implies --version-info\n"
               "A refused or failed run leaves OUT_DIR as it found it (a folder it made is removed).\n"
               "%s%s",
               sign_options_help, pack_options_help);
}

struct medium_options {
  pack_options pack;
  const char* game = nullptr;
  const char* out = nullptr;
  bool separate = false, force = false;
  sign_options sign;
  bool version_info = false;
  std::string icon, product, product_version, maker;
  std::string setup, uninst, directx, iso, label;
};

std::vector<fs::path> build_folders() {
  std::vector<fs::path> folders;
  std::string here = program_folder();
  if (!here.empty()) {
    folders.push_back(path_of(here));
    folders.push_back(path_of(here) / ".." / "win32");
  }
#ifdef TALVEN_SOURCE_FROM_TOOL
  if (!here.empty()) folders.push_back(path_of(here) / TALVEN_SOURCE_FROM_TOOL / "build" / "win32");
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

// The readme for a reader of the disc, as the package holds it: UTF-8 text in CP932.
bool copy_readme(const fs::path& from, const fs::path& to, std::string* error) {
  std::vector<unsigned char> data;
  if (!read_whole_file(text_of(from).c_str(), &data, error, 8 << 20)) {
    *error = "cannot read " + text_of(from) + ": " + *error;
    return false;
  }
  std::string bytes(data.begin(), data.end()), converted;
  check_report report;
  if (data.size() > (8 << 20) || !is_utf8_text(bytes) || text_to_cp932(bytes, text_of(from), &report, &converted) != 0)
    return copy_with_time(from, to, error);
  FILE* f = open_file(text_of(to).c_str(), "wb");
  bool ok = f && std::fwrite(converted.data(), 1, converted.size(), f) == converted.size();
  if (f && std::fclose(f) != 0) ok = false;
  if (!ok) {
    *error = "cannot write " + text_of(to) + ": " + std::strerror(errno);
    return false;
  }
  std::error_code ec;
  fs::last_write_time(to, fs::last_write_time(from, ec), ec);
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
  std::error_code ec;
  uint64_t padding = appended_padding(fs::file_size(setup, ec), fs::file_size(package, ec));
  for (FILE* from : {exe, pkg}) {
    size_t got;
    while (status == exit_ok && (got = std::fread(buffer.data(), 1, buffer.size(), from)) > 0) {
      total += got;
      if (total + 4 > largest_setup) status = fail("%s would pass 2 GiB", out.c_str());
      else if (std::fwrite(buffer.data(), 1, got, dst) != got)
        status = fail("cannot write %s: %s", out.c_str(), std::strerror(errno));
    }
    if (status == exit_ok && std::ferror(from)) status = fail("cannot read a part of %s", out.c_str());
    if (from == exe && status == exit_ok) {
      // Zeros before the package put the trailer on 8 bytes, where a signer's table follows it.
      static const unsigned char zeros[8] = {};
      if (std::fwrite(zeros, 1, padding, dst) != padding) status = fail("cannot write %s", out.c_str());
      total += padding;
      offset = total;
    }
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

// setup.exe with the maker's icon and version resource (and the separate package's
// digest), written to branded. 0, or exit_failure after printing why.
int brand_setup(const std::string& setup, const medium_options& o, const std::string& title,
                const std::vector<unsigned char>* digest, const std::string& branded) {
  std::vector<unsigned char> exe, ico, version;
  std::string error;
  if (!read_whole_file(setup.c_str(), &exe, &error, largest_setup)) return fail("cannot read %s: %s", setup.c_str(), error.c_str());
  if (!o.icon.empty() && !read_whole_file(o.icon.c_str(), &ico, &error, 16u << 20))
    return fail("cannot read %s: %s", o.icon.c_str(), error.c_str());
  if (ico.size() > (16u << 20)) return fail("%s: an icon file above 16 MiB", o.icon.c_str());
  if (o.version_info) {
    std::string product = o.product.empty() ? title : o.product;
    std::string number = o.product_version.empty() ? "1.0.0.0" : o.product_version;
    version_values v = {product.c_str(), number.c_str(), o.maker.c_str()};
    uint16_t parts[4];
    if (parse_version(number.c_str(), parts) != 0)
      return fail("--product-version %s: give 1 to 4 numbers of 0..65535 with dots (1.2.0.0)", number.c_str());
    if (build_version_resource(&v, &version) != 0) return fail("the version texts are not UTF-8");
  }
  const char* why = nullptr;
  resource_changes changes = {o.icon.empty() ? nullptr : &ico, o.version_info ? &version : nullptr, digest};
  if (replace_resources(&exe, &changes, &why) != 0)
    return fail("cannot brand %s%s%s: %s", setup.c_str(), o.icon.empty() ? "" : " with ", o.icon.c_str(), why);
  FILE* out = open_file(branded.c_str(), "wb");
  bool ok = out && std::fwrite(exe.data(), 1, exe.size(), out) == exe.size();
  if (out) ok = std::fclose(out) == 0 && ok;
  if (!ok) {
    remove_file(branded.c_str());
    return fail("cannot write %s", branded.c_str());
  }
  return exit_ok;
}

// The settings the medium needs, read by the installer's store.
struct medium_settings {
  bool force = false;
  std::string exename, readme, instto;  // UTF-8, "/" separators
  std::string title;                    // TITLEBAR, UTF-8
};

std::string utf8_path(const char* cp932) {
  std::string u;
  if (!cp932_to_utf8(cp932, &u)) u = cp932;
  for (char& c : u)
    if (c == '\\') c = '/';
  return u;
}

void read_medium_settings(const fs::path& game, medium_settings* s) {
  load_game_settings(game);
  s->force = setting_int("FORCEINSTALL", 0) != 0;
  s->exename = utf8_path(get_exename());
  char readme[128];
  setting_string("INSTREADMEFL", readme, sizeof readme, "readme.txt");
  s->readme = utf8_path(readme);
  s->instto = get_instto();
  if (!cp932_to_utf8(get_titlebar(), &s->title)) s->title.clear();
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
  // Its banner and notes are noise when it works: kept in a file, shown when it fails.
  FILE* said = scratch_stream();
  std::string why;
  int status = run_program(args, said, &why);
  remove_on_signal(nullptr);
  if (status < 0) {
    if (said) std::fclose(said);
    return fail("cannot run xorriso (apt-get install xorriso): %s", why.c_str());
  }
  if (status != 0) {
    remove_file(tmp.c_str());
    if (said) {
      std::rewind(said);
      char buffer[4096];
      size_t got;
      while ((got = std::fread(buffer, 1, sizeof buffer, said)) > 0) std::fwrite(buffer, 1, got, stderr);
      std::fclose(said);
    }
    return fail("xorriso could not write %s", o.iso.c_str());
  }
  if (said) std::fclose(said);
  if (replace_file(tmp.c_str(), o.iso.c_str()) != 0) {
    remove_file(tmp.c_str());
    return fail("cannot rename %s to %s: %s", tmp.c_str(), o.iso.c_str(), std::strerror(errno));
  }
  return exit_ok;
}

int parse(int argc, char** argv, medium_options* o) {
  static std::vector<const char*> known;
  if (known.empty()) {
    for (const char* const* p = pack_option_names; *p; ++p) known.push_back(*p);
    for (const char* p : {"--setup", "--uninst", "--directx", "--iso", "--label", "--separate", "--force", "-y",
                          "--sign", "--pass-file", "--timestamp", "--icon", "--version-info", "--product",
                          "--product-version", "--maker"})
      known.push_back(p);
    known.push_back(nullptr);
  }
  std::vector<const char*> plain;
  for (int i = 1; i < argc; ++i) {
    int r = parse_pack_option("medium", argc, argv, &i, &o->pack);
    if (r < 0) return exit_usage;
    if (r > 0) continue;
    r = parse_sign_option("medium", argc, argv, &i, &o->sign, true);
    if (r < 0) return exit_usage;
    if (r > 0) continue;
    std::string a = argv[i];
    std::string* value = a == "--setup" ? &o->setup : a == "--uninst" ? &o->uninst : a == "--directx" ? &o->directx
                         : a == "--iso" ? &o->iso : a == "--label" ? &o->label : a == "--icon" ? &o->icon
                         : a == "--product" ? &o->product : a == "--product-version" ? &o->product_version
                         : a == "--maker" ? &o->maker : nullptr;
    if (value) {
      if (i + 1 >= argc) return usage_error("medium", "%s needs a value", argv[i]);
      *value = argv[++i];
    } else if (a == "--separate") {
      o->separate = true;
    } else if (a == "--force" || a == "-y") {
      o->force = true;
    } else if (a == "--version-info") {
      o->version_info = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return unknown_option("medium", argv[i], known.data());
    } else {
      plain.push_back(argv[i]);
    }
  }
  if (plain.size() != 2) return operand_error("medium", "GAME_DIR OUT_DIR", plain.size());
  if (!o->product.empty() || !o->product_version.empty() || !o->maker.empty()) o->version_info = true;
  o->game = plain[0];
  o->out = plain[1];
  return 0;
}

// Whether `inner` is `outer` or lies inside it (both as they resolve on disk).
bool is_within(const fs::path& inner, const fs::path& outer) {
  std::error_code ec;
  std::string a = text_of(fs::weakly_canonical(fs::absolute(inner), ec)) + "/";
  std::string b = text_of(fs::weakly_canonical(fs::absolute(outer), ec)) + "/";
  return a.compare(0, b.size(), b) == 0;
}

// Removes what a run wrote into OUT_DIR, which it found empty or missing.
struct medium_folder {
  fs::path path;
  bool made = false, done = false;
  ~medium_folder() {
    if (done || path.empty()) return;
    std::error_code ec;
    if (made) {
      fs::remove_all(path, ec);
      return;
    }
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) fs::remove_all(it->path(), ec);
  }
};

// What the checks before any writing settle: the volume label and the setup.exe to use.
struct medium_plan {
  std::string label, setup;
  std::string looked;  // where setup.exe was looked for
};

// Everything that can be refused before OUT_DIR is touched.
int check_medium(const medium_options& o, medium_plan* plan) {
  if (!o.iso.empty() && iso_unavailable()) return fail("--iso: %s", iso_unavailable());
  std::error_code ec;
  fs::path game = path_of(o.game), out = path_of(o.out);
  if (!fs::is_directory(game, ec)) return not_a_folder("medium", o.game);
  if (is_within(out, game))
    return usage_error("medium", "%s is inside the game folder %s: the medium would be packed into the next one",
                       o.out, o.game);
  if (!o.iso.empty()) {
    medium_settings early;
    read_medium_settings(game, &early);
    plan->label = o.label.empty() ? default_label(early.instto) : o.label;
    if (plan->label.size() > largest_label)
      return usage_error("medium", "--label %s is %zu bytes; an ISO volume label holds %zu", plan->label.c_str(),
                         plan->label.size(), largest_label);
    if (is_within(fs::absolute(path_of(o.iso)).parent_path(), out))
      return usage_error("medium", "the image %s would be inside the medium %s", o.iso.c_str(), o.out);
  }
  std::vector<fs::path> folders = build_folders();
  plan->setup = o.setup.empty() ? find_built("setup.exe", folders, &plan->looked) : o.setup;
  const std::string& setup = plan->setup;
  if (setup.empty())
    return fail("no setup.exe found (looked at %s); build the win32 preset or give --setup PATH", plan->looked.c_str());
  if (!fs::is_regular_file(path_of(setup), ec)) return fail("%s: no such file", setup.c_str());
  if (!o.separate && is_signed_executable(setup.c_str()))
    return fail("%s is signed: the package cannot be appended to it. Give the unsigned setup.exe (and --sign "
                "KEY.p12 to sign the medium's)", setup.c_str());
  if (!o.sign.key.empty() && !fs::is_regular_file(path_of(o.sign.key), ec))
    return fail("%s: no such key file", o.sign.key.c_str());
  if (!o.directx.empty() && !fs::is_directory(path_of(o.directx), ec)) return not_a_folder("medium", o.directx.c_str());
  return exit_ok;
}

// OUT_DIR empty (emptied with --force) or made; target then removes what a failed run wrote.
int prepare_out_folder(const medium_options& o, medium_folder* target) {
  std::error_code ec;
  fs::path game = path_of(o.game), out = path_of(o.out);
  if (fs::exists(out, ec)) {
    if (!fs::is_directory(out, ec)) return fail("%s exists and is not a folder", o.out);
    if (!fs::is_empty(out, ec)) {
      if (!o.force) return fail("%s is not empty; the medium is built in an empty folder (--force empties it)", o.out);
      if (is_within(game, out)) return fail("%s holds the game folder; --force will not empty it", o.out);
      for (fs::directory_iterator it(out, ec), end; !ec && it != end; it.increment(ec)) fs::remove_all(it->path(), ec);
      if (ec || !fs::is_empty(out, ec)) return fail("cannot empty %s: %s", o.out, ec.message().c_str());
    }
  } else if (!fs::create_directories(out, ec)) {
    return fail("cannot create %s: %s", o.out, ec.message().c_str());
  } else {
    target->made = true;
  }
  target->path = out;
  return exit_ok;
}

// The package, then setup.exe in OUT_DIR: branded, with the package appended or beside it.
int write_setup(const medium_options& o, const medium_settings& settings, const std::string& setup,
                pack_totals* totals) {
  fs::path out = path_of(o.out);
  fs::path package = out / "instdat.arc";
  std::string package_path = text_of(package), shown = text_of(out / "setup.exe");
  pack_options pack = o.pack;
  pack.left_out.push_back(text_of(out));
  pack.dir = o.game;
  pack.out = package_path.c_str();
  if (!o.separate) pack.shown_out = shown.c_str();
  if (int status = pack_game(pack, totals); status != exit_ok) return status;
  // Branded before appending and signing: both depend on the program's final bytes.
  std::string branded = text_of(out / ".setup-branded.exe");
  std::string program = setup;
  // A signed setup.exe beside its package carries the package's SHA-256 inside the
  // signed bytes, and refuses a package that does not match it.
  std::vector<unsigned char> digest;
  if (o.separate && !o.sign.key.empty()) {
    FILE* f = open_file(package_path.c_str(), "rb");
    digest.resize(sha256_bytes);
    int hashed = f ? digest_of_stream(f, digest.data()) : -1;
    if (f) std::fclose(f);
    if (hashed != 0) return fail("cannot read %s", package_path.c_str());
  }
  if (!o.icon.empty() || o.version_info || !digest.empty()) {
    if (int status = brand_setup(setup, o, settings.title, digest.empty() ? nullptr : &digest, branded);
        status != exit_ok) {
      remove_file(package_path.c_str());
      return status;
    }
    program = branded;
  }
  if (!o.separate) {
    int status = write_appended(program, package_path, text_of(out / "setup.exe"));
    remove_file(package_path.c_str());
    remove_file(branded.c_str());
    if (status != exit_ok) return status;
    make_executable(text_of(out / "setup.exe").c_str());
  } else {
    std::string error;
    bool copied = copy_with_time(path_of(program), out / "setup.exe", &error);
    remove_file(branded.c_str());
    if (!copied) return fail("%s", error.c_str());
  }
  return exit_ok;
}

// FORCEINSTALL's bin/: the game program and the uninstaller built with setup.exe.
int write_bin(const medium_options& o, const medium_settings& settings, const std::string& setup,
              pack_totals* totals, std::vector<std::string>* made) {
  std::error_code ec;
  std::string error;
  fs::path game = path_of(o.game), bin = path_of(o.out) / "bin";
  fs::create_directories(bin, ec);
  fs::path program = game / path_of(settings.exename);
  if (!fs::is_regular_file(program, ec))
    return fail("FORCEINSTALL is set but the game program %s (EXENAME) is not in %s", settings.exename.c_str(), o.game);
  if (!copy_with_time(program, bin / path_of(settings.exename).filename(), &error)) return fail("%s", error.c_str());
  std::string uninst = o.uninst, looked;
  if (uninst.empty()) {
    // Only the uninstaller built with this setup.exe: one from another build may not
    // read the settings the same way.
    std::vector<fs::path> near = {path_of(setup).parent_path()};
    uninst = find_built("UnInst.exe", near, &looked);
  }
  if (uninst.empty()) {
    std::fprintf(stderr,
                 "talven-pack: warning: no UnInst.exe found (looked at %s; give --uninst PATH): bin/ holds only "
                 "the game program, and the installed game will have no uninstaller\n",
                 looked.c_str());
    ++totals->warnings;
    made->push_back("bin/ (game program only)");
    return exit_ok;
  }
  if (!fs::is_regular_file(path_of(uninst), ec)) return fail("%s: no such file", uninst.c_str());
  if (!copy_with_time(path_of(uninst), bin / "UnInst.exe", &error)) return fail("%s", error.c_str());
  made->push_back("bin/");
  return exit_ok;
}

int build_medium(const medium_options& o) {
  medium_plan plan;
  if (int status = check_medium(o, &plan); status != exit_ok) return status;
  medium_folder target;
  if (int status = prepare_out_folder(o, &target); status != exit_ok) return status;
  std::error_code ec;
  fs::path game = path_of(o.game), out = path_of(o.out);
  medium_settings settings;
  read_medium_settings(game, &settings);
  pack_totals totals;
  if (int status = write_setup(o, settings, plan.setup, &totals); status != exit_ok) return status;
  std::string error;
  std::vector<std::string> made = {o.separate ? "setup.exe, instdat.arc" : "setup.exe (package appended)"};
  if (settings.force)
    if (int status = write_bin(o, settings, plan.setup, &totals, &made); status != exit_ok) return status;
  fs::path readme = game / path_of(settings.readme);
  if (fs::is_regular_file(readme, ec)) {
    if (!copy_readme(readme, out / readme.filename(), &error)) return fail("%s", error.c_str());
    made.push_back(text_of(readme.filename()));
  }
  if (!o.directx.empty()) {
    if (!copy_tree(path_of(o.directx), out / "DirectX", &error)) return fail("%s", error.c_str());
    if (!fs::exists(out / "DirectX" / "dxsetup.exe", ec) && !fs::exists(out / "DirectX" / "DXSETUP.exe", ec)) {
      std::fprintf(stderr, "talven-pack: warning: %s holds no dxsetup.exe, which is what the menu starts\n",
                   o.directx.c_str());
      ++totals.warnings;
    }
    made.push_back("DirectX/");
  }
  if (!o.sign.key.empty()) {
    for (const fs::path& program : {out / "setup.exe", out / "bin" / "UnInst.exe"}) {
      if (!fs::is_regular_file(program, ec)) continue;
      if (int status = sign_executable(text_of(program).c_str(), o.sign); status != exit_ok) return status;
    }
    made.front() += ", signed";
  }
  if (!o.iso.empty()) {
    if (int status = run_xorriso(o, plan.label); status != exit_ok) return status;
    made.push_back("image " + o.iso + " (volume " + plan.label + ")");
  }
  target.done = true;
  std::string list;
  for (const std::string& m : made) list += (list.empty() ? "" : ", ") + m;
  if (totals.warnings) list += "; " + count_of(totals.warnings, "warning", "warnings") + " above";
  if (!o.pack.quiet) print_summary("medium " + std::string(o.out) + ": " + list);
  return exit_ok;
}

int run_medium(int argc, char** argv) {
  if (wants_help(argc, argv)) {
    usage(stdout);
    return exit_ok;
  }
  medium_options o;
  if (int code = parse(argc, argv, &o); code != 0) return code;
  return build_medium(o);
}

}  // namespace

TALVEN_PACK_COMMAND(medium, "medium", "GAME_DIR OUT_DIR: the whole medium (setup.exe, package, bin/, readme, ISO)",
                    run_medium);

}  // namespace talven::pack
