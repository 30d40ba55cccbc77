#pragma once
// Runs a program with arguments, in a folder, and collects its exit code and
// both output streams.

#include <functional>
#include <string>
#include <vector>

namespace tessaro::testing {

struct ProgramResult {
  int exitCode = -1;  // 128 + signal when killed by one
  std::string out;
  std::string err;
};

// `whileRunning`, if given, is called with the child's pid once it runs.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& folder = {},
                         const std::function<void(int pid)>& whileRunning = {});

ProgramResult RunCli(const std::vector<std::string>& args, const std::string& folder = {},
                     const std::function<void(int pid)>& whileRunning = {});

// True when `json` parses as one JSON document (checked by python3's parser).
bool IsValidJson(const std::string& json);

}  // namespace tessaro::testing
