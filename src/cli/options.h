#pragma once
// The command line's parsed arguments.

#include <string>
#include <vector>

namespace tessaro::cli {

struct Options {
  std::string command;
  std::vector<std::string> operands;
  std::string config;  // empty: the default lookup
  bool json = false;
  bool all = false;
  bool check = false;  // detect, recover: run the format checkers
  bool trim = false;   // recover: cut intact files at their true end
  bool deep = false;   // check: decompress to verify checksums
  bool contentNames = false;  // recover --names content: outputs named from their own metadata
  bool originalNames = false;  // recover --names original: named by the lost folders' own records (implies --split)
  bool sortByKind = false;    // recover --sort kind: one subfolder of DEST per extension
  bool split = false;         // identify, check, detect, recover --split: the files back to back inside a fragment
  bool rescue = false;        // recover, check --rescue: read past unreadable sectors, zeros in their place
  std::string report;         // recover --report FILE: an HTML or CSV page of every fragment
};

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailures = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;

// The catalogue to read: --config, else ./tessaro.cfg, else the copy installed
// with the program (bin/../share/tessaro/tessaro.cfg).
std::string CataloguePath(const Options& options);

int RunIdentify(const Options& options);
int RunKinds(const Options& options);
int RunLint(const Options& options);
int RunCheck(const Options& options);
int RunDetect(const Options& options);
int RunRecover(const Options& options);

}  // namespace tessaro::cli
