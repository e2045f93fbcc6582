// Writes one benchmark data file.
//
//   make_bench_file KIND SIZE OUTPUT
//
// KIND is v0600, v0900, v0500 or v0700var (bench/bench_data.h); SIZE is the
// approximate file size in bytes, with an optional K, M or G suffix (powers
// of 1024).  Prints one line: the path, the size in bytes, the number of
// records and the time it took.  Exit code 0 on success, 1 otherwise.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_data.h"

namespace {

bool ParseSize(const char* text, uint64_t* bytes) {
  char* end = nullptr;
  const unsigned long long value = strtoull(text, &end, 10);
  if (end == text) return false;
  uint64_t scale = 1;
  if (*end == 'K' || *end == 'k') scale = 1ull << 10;
  if (*end == 'M' || *end == 'm') scale = 1ull << 20;
  if (*end == 'G' || *end == 'g') scale = 1ull << 30;
  if (scale != 1) ++end;
  if (*end != '\0') return false;
  *bytes = value * scale;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  benchdata::BenchFilePlan plan;
  uint64_t size = 0;
  if (argc != 4 || !ParseSize(argv[2], &size) ||
      !benchdata::PlanForKind(argv[1], size, &plan)) {
    fprintf(stderr, "usage: make_bench_file v0600|v0900|v0500|v0700var SIZE[K|M|G] OUTPUT\n");
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  FILE* out = fopen(argv[3], "wb");
  if (out == nullptr) {
    fprintf(stderr, "make_bench_file: cannot create %s\n", argv[3]);
    return 1;
  }
  static char buffer[1 << 20];
  setvbuf(out, buffer, _IOFBF, sizeof buffer);
  const bool written = benchdata::WriteBenchFile(plan, out);
  const long long length = written ? static_cast<long long>(ftell(out)) : -1;
  if (fclose(out) != 0 || !written) {
    fprintf(stderr, "make_bench_file: writing %s failed\n", argv[3]);
    remove(argv[3]);
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  printf("%s %lld bytes, %llu records, written in %.2f s\n", argv[3], length,
         static_cast<unsigned long long>(plan.recordCount), seconds);
  return 0;
}
