// Runs a program as a child process with its standard output and error
// captured in files and its standard input taken from the null device, the
// way CI starts it.  POSIX and Win32 versions live in process_runner.cc.
#ifndef GANDREL_TESTS_CONSOLE_PROCESS_RUNNER_H_
#define GANDREL_TESTS_CONSOLE_PROCESS_RUNNER_H_

#include <functional>
#include <string>
#include <vector>

struct ProcessResult {
  bool started = false;
  bool timedOut = false;
  int exitCode = -1;        // valid when the process exited by itself
  int terminatedBy = 0;     // POSIX: the signal that killed it, else 0
  std::string out;          // standard output, byte for byte
  std::string err;          // standard error, byte for byte
};

struct ProcessOptions {
  std::string workingDirectory;  // empty: the test's own
  // POSIX only: give the child a pseudo-terminal as standard input, and
  // call `duringRun` with its process id and the terminal's master side (or
  // -1) and the file that collects its stdout while it runs; RunProcess
  // then waits for it to end.
  bool terminalInput = false;
  std::function<void(long pid, int terminalMaster, const std::string& stdoutPath)>
      duringRun;
  int timeoutSeconds = 60;
};

ProcessResult RunProcess(const std::string& program,
                         const std::vector<std::string>& arguments,
                         const ProcessOptions& options = {});

// A directory removed with its files when the guard goes out of scope.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

bool FileExists(const std::string& path);

#endif  // GANDREL_TESTS_CONSOLE_PROCESS_RUNNER_H_
