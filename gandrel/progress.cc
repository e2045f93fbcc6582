#include "gandrel/progress.h"

namespace {

constexpr int kBarWidth = 40;

}  // namespace

void StartProgress(ProgressBar* bar, FILE* out, bool terminal, int64_t total,
                   const char* label) {
  *bar = ProgressBar{};
  if (!terminal || total <= kProgressMinBytes) return;
  bar->out = out;
  bar->total = total;
  fprintf(out, "%s\n", label);
  StepProgress(bar, 0);
}

void StepProgress(ProgressBar* bar, int64_t done) {
  if (bar->out == nullptr) return;
  if (done > bar->total) done = bar->total;
  const int percent = static_cast<int>(done * 100 / bar->total);
  if (percent == bar->lastPercent) return;
  bar->lastPercent = percent;
  char line[kBarWidth + 1];
  const int filled = percent * kBarWidth / 100;
  for (int i = 0; i < kBarWidth; ++i) line[i] = i < filled ? '#' : '.';
  line[kBarWidth] = 0;
  fprintf(bar->out, "\r[%s] %3d%%", line, percent);
  fflush(bar->out);
}

void EndProgress(ProgressBar* bar) {
  if (bar->out == nullptr) return;
  fprintf(bar->out, "\r%*s\r", kBarWidth + 8, "");
  fflush(bar->out);
  bar->out = nullptr;
}
