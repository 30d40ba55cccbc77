// tessaro-cli: the window's passes and the catalogue tools from a shell.

#include <cstdio>
#include <cstring>
#include <string>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "app/version.h"
#include "cli/options.h"

namespace {

constexpr const char* kUsage =
    "usage: tessaro-cli [--config FILE] COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  identify FILE...        print PATH<TAB>EXTENSION<TAB>KIND for each file  [--split]\n"
    "  kinds                   list the catalogue's kinds in table order\n"
    "  lint [FILE]             check a catalogue for mistakes\n"
    "  detect FOLDER           count the fragments of each kind  [--json] [--all] [--check]\n"
    "  recover FOLDER DEST     copy recognised fragments to DEST (made when missing)  [--json]\n"
    "                          [--check] [--trim] [--split] [--names content|original]\n"
    "                          [--sort kind] [--rescue]\n"
    "                          [--report FILE.html|FILE.csv]\n"
    "  check FILE...           print PATH<TAB>EXTENSION<TAB>VERDICT<TAB>LENGTH<TAB>DETAIL  [--deep] [--split]\n"
    "                          [--rescue]\n"
    "  help                    this text\n"
    "\n"
    "options:\n"
    "  --config FILE  the catalogue (default ./tessaro.cfg, else the installed one)\n"
    "  --json         one JSON document on standard output instead of the table\n"
    "  --all          detect: also list kinds with no files\n"
    "  --check        detect, recover: say of each fragment whether its file is intact,\n"
    "                 truncated or damaged (or unchecked), from the file's own structure\n"
    "  --trim         recover: write an intact file up to its true end only (implies --check)\n"
    "  --deep         check: also decompress archives to verify their checksums\n"
    "  --names content  recover: name each output from its own metadata, as\n"
    "                 \"CONTENT (FILE0007).jpg\" (a photo's date, a song's artist and title,\n"
    "                 a document's title); without any, the fragment's name\n"
    "  --names original  recover: with --split (implied), name each file as its lost\n"
    "                 folder's own records name it, DEST/FOLDER/NAME (a lost folder named\n"
    "                 nowhere after its fragment); files without a record as --names content\n"
    "  --sort kind    recover: one subfolder of DEST per extension (jpg/, docx/, other/);\n"
    "                 with --check, truncated/ and damaged/ inside a kind's folder\n"
    "  --report FILE  recover: a page of every fragment, HTML or CSV by FILE's extension\n"
    "  --split        identify, check, detect, recover: read each fragment as files back\n"
    "                 to back and give each file found on its own (FILE0007-0001.jpg, ...;\n"
    "                 identify and check print PATH@OFFSET for a file further in);\n"
    "                 implies --check\n"
    "  --rescue       recover, check: for fragments on a failing card or disk; a read\n"
    "                 error does not fail the fragment: what can be read is kept, each\n"
    "                 unreadable 512-byte sector becomes zeros, the file's verdict is\n"
    "                 damaged with its unreadable ranges; implies --check\n"
    "  --help, --version\n"
    "  --             ends the options (for names that begin with a dash)\n"
    "\n"
    "exit: 0 done, 1 some files failed, 2 usage or catalogue error, 130 interrupted\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace tessaro::cli;
#if defined(_WIN32)
  // The program writes UTF-8; a console shows it right only in that code page
  // (the Chinese summary on a Western system, names in any script).
  SetConsoleOutputCP(CP_UTF8);
#endif
  Options options;
  bool endOfOptions = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!endOfOptions && arg[0] == '-' && arg[1] != '\0') {
      if (std::strcmp(arg, "--") == 0) {
        endOfOptions = true;
      } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
        std::fputs(kUsage, stdout);
        return kExitOk;
      } else if (std::strcmp(arg, "--version") == 0) {
        std::puts("tessaro-cli " TESSARO_VERSION);
        return kExitOk;
      } else if (std::strcmp(arg, "--json") == 0) {
        options.json = true;
      } else if (std::strcmp(arg, "--all") == 0) {
        options.all = true;
      } else if (std::strcmp(arg, "--check") == 0) {
        options.check = true;
      } else if (std::strcmp(arg, "--trim") == 0) {
        options.trim = true;
        options.check = true;
      } else if (std::strcmp(arg, "--split") == 0) {
        options.split = true;
      } else if (std::strcmp(arg, "--rescue") == 0) {
        options.rescue = true;
      } else if (std::strcmp(arg, "--deep") == 0) {
        options.deep = true;
      } else if (std::strcmp(arg, "--names") == 0 || std::strncmp(arg, "--names=", 8) == 0 ||
                 std::strcmp(arg, "--sort") == 0 || std::strncmp(arg, "--sort=", 7) == 0 ||
                 std::strcmp(arg, "--report") == 0 || std::strncmp(arg, "--report=", 9) == 0) {
        // Options with a value, given as "--opt VALUE" or "--opt=VALUE".
        const char* equals = std::strchr(arg, '=');
        const std::string name = equals ? std::string(arg, equals) : std::string(arg);
        if (!equals && i + 1 >= argc) {
          std::fprintf(stderr, "tessaro-cli: %s needs a value (see --help)\n", name.c_str());
          return kExitUsage;
        }
        const std::string value = equals ? std::string(equals + 1) : std::string(argv[++i]);
        if (name == "--names") {
          if (value != "content" && value != "fragment" && value != "original") {
            std::fprintf(stderr, "tessaro-cli: --names takes content, original or fragment, not %s\n", value.c_str());
            return kExitUsage;
          }
          options.contentNames = value == "content";
          options.originalNames = value == "original";
        } else if (name == "--sort") {
          if (value != "kind" && value != "none") {
            std::fprintf(stderr, "tessaro-cli: --sort takes kind or none, not %s\n", value.c_str());
            return kExitUsage;
          }
          options.sortByKind = value == "kind";
        } else {
          if (value.empty()) {
            std::fputs("tessaro-cli: --report needs a FILE\n", stderr);
            return kExitUsage;
          }
          options.report = value;
        }
      } else if (std::strcmp(arg, "--config") == 0) {
        if (i + 1 >= argc) {
          std::fputs("tessaro-cli: --config needs a FILE\n", stderr);
          return kExitUsage;
        }
        options.config = argv[++i];
      } else if (std::strncmp(arg, "--config=", 9) == 0) {
        options.config = arg + 9;
      } else {
        std::fprintf(stderr, "tessaro-cli: unknown option %s (see --help)\n", arg);
        return kExitUsage;
      }
      continue;
    }
    if (options.command.empty()) options.command = arg;
    else options.operands.emplace_back(arg);
  }
  if (options.command.empty()) {
    // Nothing asked: say what can be asked, as a usage error.
    std::fputs(kUsage, stdout);
    return kExitUsage;
  }
  if (options.command == "help" && options.operands.empty()) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  const bool pass = options.command == "detect" || options.command == "recover";
  if ((options.json || options.all || options.check) && !pass) {
    std::fprintf(stderr, "tessaro-cli: --json, --all and --check belong to detect and recover\n");
    return kExitUsage;
  }
  if ((options.trim || options.contentNames || options.originalNames || options.sortByKind || !options.report.empty()) &&
      options.command != "recover") {
    std::fprintf(stderr, "tessaro-cli: --trim, --names, --sort and --report belong to recover\n");
    return kExitUsage;
  }
  if (options.rescue && options.command != "recover" && options.command != "check") {
    std::fprintf(stderr, "tessaro-cli: --rescue belongs to recover and check\n");
    return kExitUsage;
  }
  if (options.deep && options.command != "check" && !pass) {
    std::fprintf(stderr, "tessaro-cli: --deep belongs to check, detect and recover\n");
    return kExitUsage;
  }
  if (options.split && !pass && options.command != "identify" && options.command != "check") {
    std::fprintf(stderr, "tessaro-cli: --split belongs to identify, check, detect and recover\n");
    return kExitUsage;
  }
  if (options.command == "identify") return RunIdentify(options);
  if (options.command == "kinds") return RunKinds(options);
  if (options.command == "lint") return RunLint(options);
  if (options.command == "detect") return RunDetect(options);
  if (options.command == "recover") return RunRecover(options);
  if (options.command == "check") return RunCheck(options);
  std::fprintf(stderr, "tessaro-cli: unknown command %s (see --help)\n", options.command.c_str());
  return kExitUsage;
}
