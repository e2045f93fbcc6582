#include "tests/console/process_runner.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

std::string ReadWholeFile(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return text;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
  fclose(f);
  return text;
}

std::string NewTempPath(const char* stem) {
  static std::atomic<unsigned> counter{0};
  std::error_code ec;
  const auto base = std::filesystem::temp_directory_path(ec);
#ifdef _WIN32
  const unsigned long id = GetCurrentProcessId();
#else
  const unsigned long id = static_cast<unsigned long>(getpid());
#endif
  return (base / (std::string(stem) + "-" + std::to_string(id) + "-" +
                  std::to_string(counter++)))
      .string();
}

#ifdef _WIN32

// Quotes one argument for CommandLineToArgvW-style parsing.
std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
    return argument;
  }
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') quoted.append(backslashes * 2 + 1, '\\');
    else quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

HANDLE OpenInheritable(const char* path, DWORD access, DWORD creation) {
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                     creation, FILE_ATTRIBUTE_NORMAL, nullptr);
}

#endif

}  // namespace

ProcessResult RunProcess(const std::string& program,
                         const std::vector<std::string>& arguments,
                         const ProcessOptions& options) {
  ProcessResult result;
  const std::string outPath = NewTempPath("pagrove-out");
  const std::string errPath = NewTempPath("pagrove-err");

#ifdef _WIN32
  std::string commandLine = QuoteArgument(program);
  for (const std::string& a : arguments) commandLine += " " + QuoteArgument(a);
  HANDLE in = OpenInheritable("NUL", GENERIC_READ, OPEN_EXISTING);
  HANDLE out = OpenInheritable(outPath.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = OpenInheritable(errPath.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi = {};
  std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back('\0');
  const char* cwd =
      options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();
  if (CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0,
                     nullptr, cwd, &si, &pi)) {
    result.started = true;
    if (WaitForSingleObject(pi.hProcess, options.timeoutSeconds * 1000u) ==
        WAIT_TIMEOUT) {
      result.timedOut = true;
      TerminateProcess(pi.hProcess, 99);
      WaitForSingleObject(pi.hProcess, INFINITE);
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    result.exitCode = static_cast<int>(code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
#else
  int master = -1;
  std::string terminalName;
  if (options.terminalInput) {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return result;
    terminalName = ptsname(master);
  }
  const pid_t child = fork();
  if (child == 0) {
    const int in = options.terminalInput ? open(terminalName.c_str(), O_RDWR | O_NOCTTY)
                                         : open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (!options.workingDirectory.empty() &&
        chdir(options.workingDirectory.c_str()) != 0) {
      _exit(126);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (child > 0) {
    result.started = true;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
    if (options.duringRun) options.duringRun(static_cast<long>(child), master, outPath);
    int status = 0;
    for (;;) {
      const pid_t done = waitpid(child, &status, WNOHANG);
      if (done == child) break;
      if (std::chrono::steady_clock::now() > deadline) {
        result.timedOut = true;
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.terminatedBy = WTERMSIG(status);
  }
  if (master >= 0) close(master);
#endif

  result.out = ReadWholeFile(outPath);
  result.err = ReadWholeFile(errPath);
  std::remove(outPath.c_str());
  std::remove(errPath.c_str());
  return result;
}

ScopedTempDir::ScopedTempDir() {
  path_ = NewTempPath("pagrove-dir");
  std::filesystem::create_directories(path_);
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ScopedTempDir::File(const std::string& name) const {
  return (std::filesystem::path(path_) / name).string();
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}
