#include "console/platform.h"

#include <windows.h>
#include <conio.h>

#include <csignal>
#include <cstdio>

#include "dump/dump_writer.h"

namespace {

// The Windows runtime's numbers, in the order they are installed.
constexpr int kCtrlBreakSignal = 21;  // SIGBREAK
constexpr int kAbortSignal = 22;      // SIGABRT
constexpr int kTerminateSignal = 15;  // SIGTERM
constexpr int kInterruptSignal = 2;   // SIGINT

}  // namespace

void PrepareConsoleStreams() {
  // The runtime fully buffers a redirected stdout and has no line
  // buffering, so the console lines would only appear at exit.
  setvbuf(stdout, nullptr, _IONBF, 0);
}

void InstallSignalHandlers(void (*handler)(int)) {
  signal(kCtrlBreakSignal, handler);
  signal(kAbortSignal, handler);
  signal(kTerminateSignal, handler);
  signal(kInterruptSignal, handler);
}

void WaitForKey() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (input != nullptr && input != INVALID_HANDLE_VALUE &&
      GetConsoleMode(input, &mode)) {
    _getch();
    return;
  }
  // Not a console (a pipe, a file, the NUL device, no input at all): take a
  // byte only if one is ready.
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return;
  char key;
  DWORD got = 0;
  switch (GetFileType(input)) {
    case FILE_TYPE_PIPE: {
      DWORD available = 0;
      if (PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr) &&
          available > 0) {
        ReadFile(input, &key, 1, &got, nullptr);
      }
      break;
    }
    case FILE_TYPE_DISK:
      ReadFile(input, &key, 1, &got, nullptr);
      break;
    default:
      break;
  }
}

void RestoreConsoleInput() {
  // _getch leaves the console mode as it found it; nothing to undo.
}

void UseStreamWithoutLocking(FILE*) {
  // The runtime has no such switch per stream; it keeps its locks.
}

bool StartDumpWriterThreadWithoutSignals(DumpOutput* output) {
  // The runtime raises Ctrl+C and Ctrl+Break from a console control thread
  // of the system's, never on a thread of ours: nothing to mask.
  return StartDumpWriterThread(output);
}
