// What the console program does differently per platform; one
// implementation file per platform is compiled in (platform_posix.cc,
// platform_win32.cc).
#ifndef GANDREL_CONSOLE_PLATFORM_H_
#define GANDREL_CONSOLE_PLATFORM_H_

#include <cstdio>

#include "dump/dump_writer.h"

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
// file is written by one thread at a time (the dump writer's thread hands it
// back through a lock before the record loop's thread touches it again), and
// the signal handler never touches a stream.  Call before the first write.
void UseStreamWithoutLocking(FILE* file);

// StartDumpWriterThread for `output`, such that the signals of
// InstallSignalHandlers are never handled on the new thread: they stay with
// the record loop's thread, which tests for them between entries.  Returns
// false when no thread was started (the record loop's thread then writes).
bool StartDumpWriterThreadWithoutSignals(DumpOutput* output);

#endif  // GANDREL_CONSOLE_PLATFORM_H_
