// talven-pack rct: converts between PNG and the engine's RCT pictures, so that a maker can
// draw the menu background in any paint program.
#include <cerrno>
#include <climits>
#include <csetjmp>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "cleanup.h"
#include "command.h"
#include "engine/rct.h"
#include "pack_common.h"
#include "platform.h"
#include "png_file.h"

namespace talven::pack {

namespace {

const char rct_usage[] =
    "usage: talven-pack rct encode IN.png OUT.rct [--variant TC00|TC01] [--name TEXT]\n"
    "       talven-pack rct decode IN.rct OUT.png\n\n"
    "encode  converts a PNG picture into an RCT file. Palette, gray and 16-bit pictures\n"
    "        are expanded to 8-bit colour; an alpha channel is composited over black.\n"
    "        --variant TC01 stores a name (--name, UTF-8 here, stored as CP932, at most\n"
    "        264 bytes); --name alone implies TC01. The default is TC00.\n"
    "        The installer's menu shows insttscr.rct at 410x291 pixels (96 DPI), centred:\n"
    "        a larger picture is cut off evenly, a smaller one framed in black.\n"
    "decode  converts an RCT file of any of the four kinds into an RGB PNG. A damaged or\n"
    "        unchecked file is written as the installer would show it (the part decoded,\n"
    "        or black) and reported with exit code 1.\n";

struct file_closer {
  FILE* file;
  ~file_closer() {
    if (file) std::fclose(file);
  }
};


// A fresh temporary beside target, renamed over it only when complete, so that a failed
// write (a full disk) never leaves a cut file under the target's name.
struct temporary_output {
  char name[4096] = "";
  bool open(const char* target) {
    int fd = make_temporary_beside(target, name, sizeof name);
    if (fd < 0) {
      fail("cannot create a temporary file beside %s: %s", target, std::strerror(errno));
      return false;
    }
    FILE* made = ::fdopen(fd, "wb");
    if (made) {
      give_default_mode(made);
      std::fclose(made);
    } else {
      ::close(fd);
    }
    return true;
  }
  int finish(bool ok, const char* target) {
    remove_on_signal(nullptr);
    if (ok && replace_file(name, target) != 0) {
      fail("cannot rename %s to %s: %s", name, target, std::strerror(errno));
      ok = false;
    }
    if (!ok) remove_file(name);
    return ok ? 0 : -1;
  }
};

int write_png(const char* path, const unsigned char* bgr, int width, int height) {
  temporary_output t;
  if (!t.open(path)) return -1;
  return t.finish(write_png_file(t.name, bgr, width, height) == 0, path);
}

int run_encode(int argc, char** argv) {
  const char* in = nullptr;
  const char* out = nullptr;
  const char* variant_text = nullptr;
  const char* name = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--variant") == 0 && i + 1 < argc) {
      variant_text = argv[++i];
    } else if (std::strcmp(argv[i], "--name") == 0 && i + 1 < argc) {
      name = argv[++i];
    } else if (argv[i][0] == '-' && argv[i][1] == '-') {
      std::fprintf(stderr, "talven-pack rct encode: unknown or incomplete option %s\n%s", argv[i], rct_usage);
      return exit_usage;
    } else if (!in) {
      in = argv[i];
    } else if (!out) {
      out = argv[i];
    } else {
      std::fprintf(stderr, "talven-pack rct encode: too many arguments\n%s", rct_usage);
      return exit_usage;
    }
  }
  if (!in || !out) {
    std::fprintf(stderr, "talven-pack rct encode: needs IN.png and OUT.rct\n%s", rct_usage);
    return exit_usage;
  }
  int variant = name ? rct_tc01 : rct_tc00;
  if (variant_text) {
    if (std::strcmp(variant_text, "TC00") == 0) {
      variant = rct_tc00;
    } else if (std::strcmp(variant_text, "TC01") == 0) {
      variant = rct_tc01;
    } else {
      std::fprintf(stderr, "talven-pack rct encode: --variant is TC00 or TC01, not %s\n", variant_text);
      return exit_usage;
    }
  }
  if (name && variant == rct_tc00) {
    std::fprintf(stderr, "talven-pack rct encode: TC00 has no name field; use --variant TC01\n");
    return exit_usage;
  }
  std::string stored;
  if (name) {
    if (!utf8_to_cp932(name, &stored)) {
      std::fprintf(stderr, "talven-pack rct encode: --name has text that CP932 cannot hold\n");
      return exit_usage;
    }
    if (stored.size() > rct_name_max) {
      std::fprintf(stderr, "talven-pack rct encode: --name is %zu bytes in CP932, at most %zu\n",
                   stored.size(), rct_name_max);
      return exit_usage;
    }
  }

  std::vector<unsigned char> pixels;
  int width = 0, height = 0;
  if (read_png(in, &pixels, &width, &height) != 0) return exit_failure;
  std::vector<unsigned char> file(rct_encode_bound(width, height, stored.size()));
  const size_t size = rct_encode(pixels.data(), width, height, variant,
                                 reinterpret_cast<const unsigned char*>(stored.data()), stored.size(),
                                 file.data(), file.size());
  if (size == 0) return fail("%s: could not encode %dx%d", in, width, height);
  temporary_output t;
  if (!t.open(out)) return exit_failure;
  file_closer f{open_file(t.name, "wb")};
  if (!f.file) {
    fail("cannot create %s: %s", t.name, std::strerror(errno));
    t.finish(false, out);
    return exit_failure;
  }
  bool written = std::fwrite(file.data(), 1, size, f.file) == size;
  int saved = errno;
  FILE* closing = f.file;
  f.file = nullptr;
  if (std::fclose(closing) != 0 && written) {
    written = false;
    saved = errno;
  }
  if (!written) fail("cannot write %s: %s", out, std::strerror(saved));
  if (t.finish(written, out) != 0) return exit_failure;
  std::printf("%s: %dx%d, %zu bytes (%.1f%% of raw)\n", out, width, height, size,
              100.0 * static_cast<double>(size) / (3.0 * width * height));
  if (width != menu_picture_width || height != menu_picture_height)
    std::fprintf(stderr,
                 "talven-pack: note: the installer's menu shows %dx%d pixels (at 96 DPI), centred: as insttscr.rct "
                 "this picture would be %s\n",
                 menu_picture_width, menu_picture_height,
                 width > menu_picture_width || height > menu_picture_height ? "cut off at its edges"
                                                                            : "framed by a black border");
  return exit_ok;
}

int run_decode(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "talven-pack rct decode: needs IN.rct and OUT.png\n%s", rct_usage);
    return exit_usage;
  }
  const char* in = argv[1];
  const char* out = argv[2];
  std::vector<unsigned char> file;
  std::string error;
  if (!read_whole_file(in, &file, &error)) return fail("cannot read %s: %s", in, error.c_str());
  rct_header header;
  int result = rct_parse_header(file.data(), file.size(), &header);
  switch (result) {
    case rct_ok: break;
    case rct_not_rct: return fail("%s is not an RCT picture", in);
    case rct_truncated: return fail("%s is cut short", in);
    default: return fail("%s has a header that describes no picture", in);
  }
  // Black where nothing is decoded, as in the installer's fresh bitmap.
  std::vector<unsigned char> pixels(rct_packed_size(header.width, header.height), 0);
  result = rct_decode_data(header, file.data() + header.data_offset, header.data_size, pixels.data(), pixels.size());
  if (write_png(out, pixels.data(), header.width, header.height) != 0) return exit_failure;
  if (result == rct_no_trailer) return fail("%s: scrambled data without its check trailer, written black", in);
  if (result != rct_ok) return fail("%s: damaged command stream, written as far as it decodes", in);
  return exit_ok;
}

int run_rct(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(rct_usage, stdout);
    return exit_ok;
  }
  if (argc < 2) {
    std::fputs(rct_usage, stderr);
    return exit_usage;
  }
  if (wants_help(argc - 1, argv + 1)) {
    std::fputs(rct_usage, stdout);
    return exit_ok;
  }
  if (std::strcmp(argv[1], "encode") == 0) return run_encode(argc - 1, argv + 1);
  if (std::strcmp(argv[1], "decode") == 0) return run_decode(argc - 1, argv + 1);
  std::fprintf(stderr, "talven-pack rct: unknown action %s (encode or decode; talven-pack help rct)\n", argv[1]);
  return exit_usage;
}

}  // namespace

TALVEN_PACK_COMMAND(rct, "rct", "encode/decode RCT pictures", run_rct);

}  // namespace talven::pack
