// What the console program does differently per platform; one
// implementation file per platform is compiled in (platform_posix.cc,
// platform_win32.cc).
#ifndef GANDREL_CONSOLE_PLATFORM_H_
#define GANDREL_CONSOLE_PLATFORM_H_

#include <cstdio>

// Makes the standard streams behave alike on every platform: messages reach
// a redirected stdout as they are printed, also when the process is ended
// by a signal.
void PrepareConsoleStreams();

// Installs `handler` for the signals that end a run: Ctrl+Break, abort,
// termination and Ctrl+C where the platform has them.
void InstallSignalHandlers(void (*handler)(int));

// Waits for one key press without echo and without Enter.  When standard
// input is not an interactive console it never blocks: it takes one byte if
// one is ready and otherwise returns at once.
void WaitForKey();

// Puts the console input back the way WaitForKey found it, if WaitForKey is
// in progress.  Safe to call from a signal handler.
void RestoreConsoleInput();

// Lets the runtime skip its per-call lock on `file`, where it can: the dump
// file is written by the program's only thread, and the signal handler never
// touches a stream.  Call before the first write.
void UseStreamWithoutLocking(FILE* file);

#endif  // GANDREL_CONSOLE_PLATFORM_H_
