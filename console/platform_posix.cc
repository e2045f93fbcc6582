#include "console/platform.h"

#include <poll.h>
#include <pthread.h>
#if defined(__GLIBC__)
#include <stdio_ext.h>
#endif
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "dump/dump_writer.h"

namespace {

// Terminal settings to put back after the key prompt, also when a Ctrl+C
// during the prompt runs the signal handler, which ends the process at once.
termios savedTerminal;
volatile sig_atomic_t terminalChanged = 0;

}  // namespace

void RestoreConsoleInput() {
  // tcsetattr is async-signal-safe.
  if (terminalChanged) {
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    terminalChanged = 0;
  }
}

void PrepareConsoleStreams() {
  // Line buffering keeps the console lines in step with the run when stdout
  // is a pipe or a file; exit() flushes whatever is left.
  setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

void InstallSignalHandlers(void (*handler)(int)) {
  // There is no Ctrl+Break signal here; the other three are the same.
  signal(SIGABRT, handler);
  signal(SIGTERM, handler);
  signal(SIGINT, handler);
}

void WaitForKey() {
  fflush(stdout);
  unsigned char key;
  if (!isatty(STDIN_FILENO)) {
    // A pipe, a file, a closed input: take a byte only if one is ready.
    pollfd input = {STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, 0) == 1 && (input.revents & POLLIN) != 0) {
      (void)!read(STDIN_FILENO, &key, 1);
    }
    return;
  }

  if (tcgetattr(STDIN_FILENO, &savedTerminal) != 0) {
    (void)!read(STDIN_FILENO, &key, 1);
    return;
  }
  termios raw = savedTerminal;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  terminalChanged = 1;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  (void)!read(STDIN_FILENO, &key, 1);
  RestoreConsoleInput();
}

void UseStreamWithoutLocking(FILE* file) {
#if defined(__GLIBC__)
  // glibc locks the stream on every fwrite, one locked instruction pair per
  // record of the dump.
  __fsetlocking(file, FSETLOCKING_BYCALLER);
#else
  (void)file;
#endif
}

bool StartDumpWriterThreadWithoutSignals(DumpOutput* output) {
  // A new thread starts with its creator's signal mask: blocked here for the
  // start, SIGINT and SIGTERM stay blocked on the writer's thread only.
  sigset_t stopSignals;
  sigset_t previous;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
  const bool started = StartDumpWriterThread(output);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return started;
}
