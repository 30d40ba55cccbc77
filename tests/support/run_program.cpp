#include "support/run_program.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "support/temp_folder.h"

namespace tessaro::testing {

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& folder, const std::function<void(int)>& whileRunning) {
  TempFolder scratch;
  const std::string outPath = scratch.str() + "/out";
  const std::string errPath = scratch.str() + "/err";
  ProgramResult result;
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (!folder.empty() && ::chdir(folder.c_str()) != 0) ::_exit(126);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = ::open("/dev/null", O_RDONLY);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::dup2(in, 0);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  if (whileRunning) whileRunning(pid);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadAll(outPath);
  result.err = ReadAll(errPath);
  return result;
}

ProgramResult RunCli(const std::vector<std::string>& args, const std::string& folder,
                     const std::function<void(int)>& whileRunning) {
  return RunProgram(TESSARO_CLI_PATH, args, folder, whileRunning);
}

bool IsValidJson(const std::string& json) {
  TempFolder scratch;
  const std::string path = scratch.Write("doc.json", json);
  const ProgramResult r = RunProgram("/usr/bin/python3", {"-c", "import json,sys; json.load(open(sys.argv[1], encoding='utf-8'))", path});
  return r.exitCode == 0;
}

}  // namespace tessaro::testing
