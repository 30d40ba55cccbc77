#pragma once
// Runs a program with arguments, in a folder, and collects its exit code and
// both output streams.

#include <functional>
#include <string>
#include <vector>

namespace tessaro::testing {

struct ProgramResult {
  int exitCode = -1;  // 128 + signal when killed by one (POSIX)
  std::string out;  // on Windows read as text: "\r\n" becomes "\n"
  std::string err;
};

// `whileRunning`, if given, is called with the child's process id once it runs.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& folder = {},
                         const std::function<void(int pid)>& whileRunning = {});

ProgramResult RunCli(const std::vector<std::string>& args, const std::string& folder = {},
                     const std::function<void(int pid)>& whileRunning = {});

// True when `json` parses as one JSON document: checked by python3's parser,
// on Windows (no python3 there) by ParseJson of json_check.h.
bool IsValidJson(const std::string& json);

}  // namespace tessaro::testing
