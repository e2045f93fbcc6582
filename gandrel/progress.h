// A one-line progress bar on stderr, redrawn with a carriage return.  Only
// shown for files over kProgressMinBytes and only when stderr is a terminal;
// otherwise every call does nothing.
#ifndef GANDREL_GANDREL_PROGRESS_H_
#define GANDREL_GANDREL_PROGRESS_H_

#include <cstdint>
#include <cstdio>

constexpr int64_t kProgressMinBytes = 64ll << 20;

struct ProgressBar {
  FILE* out = nullptr;  // null: not shown
  int64_t total = 0;
  int lastPercent = -1;
};

// Starts a bar for a job of `total` bytes named `label`; `terminal` says
// whether the stream is one (StderrIsTerminal).
void StartProgress(ProgressBar* bar, FILE* out, bool terminal, int64_t total,
                   const char* label);
// Redraws when the percentage changed.
void StepProgress(ProgressBar* bar, int64_t done);
// Clears the bar's line.
void EndProgress(ProgressBar* bar);

#endif  // GANDREL_GANDREL_PROGRESS_H_
