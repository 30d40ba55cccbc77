#include "support/run_program.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>

#include "platform/platform.h"
#include "support/json_check.h"
#include "support/temp_folder.h"

namespace tessaro::testing {

#if defined(_WIN32)

namespace {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

// One argument as the runtime's command-line parser takes it apart again:
// quoted when it is empty or holds blanks or quotes, backslashes doubled
// only where they stand before a quote.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
  if (!line.empty()) line.push_back(L' ');
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line.push_back(L'"');
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    line.push_back(c);
  }
  line.append(2 * backslashes, L'\\');
  line.push_back(L'"');
}

// The program's output read as text, as a Windows text stream reads it: the
// runtime writes each line end as "\r\n" there.
std::string AsText(std::string bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text.push_back(bytes[i]);
  }
  return text;
}

HANDLE InheritableFile(const std::wstring& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& folder, const std::function<void(int)>& whileRunning) {
  TempFolder scratch;
  const std::string outPath = JoinPath(scratch.str(), "out");
  const std::string errPath = JoinPath(scratch.str(), "err");
  ProgramResult result;
  std::wstring line;
  AppendQuoted(line, Wide(program));
  for (const std::string& a : args) AppendQuoted(line, Wide(a));

  HANDLE out = InheritableFile(Wide(outPath), GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = InheritableFile(Wide(errPath), GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE in = InheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const std::wstring wideFolder = Wide(folder);
  const BOOL started = CreateProcessW(Wide(program).c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      folder.empty() ? nullptr : wideFolder.c_str(), &startup, &process);
  for (HANDLE h : {out, err, in}) {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  if (!started) {
    result.exitCode = 127;
    result.err = "could not start " + program + ": error " + std::to_string(GetLastError());
    return result;
  }
  if (whileRunning) whileRunning(static_cast<int>(process.dwProcessId));
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  result.exitCode = static_cast<int>(code);
  result.out = AsText(ReadAll(outPath));
  result.err = AsText(ReadAll(errPath));
  return result;
}

#else

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

#endif

ProgramResult RunCli(const std::vector<std::string>& args, const std::string& folder,
                     const std::function<void(int)>& whileRunning) {
  return RunProgram(TESSARO_CLI_PATH, args, folder, whileRunning);
}

bool IsValidJson(const std::string& json) {
#if defined(_WIN32)
  JsonValue ignored;
  return ParseJson(json, ignored);
#else
  TempFolder scratch;
  const std::string path = scratch.Write("doc.json", json);
  const ProgramResult r = RunProgram("/usr/bin/python3", {"-c", "import json,sys; json.load(open(sys.argv[1], encoding='utf-8'))", path});
  return r.exitCode == 0;
#endif
}

}  // namespace tessaro::testing
