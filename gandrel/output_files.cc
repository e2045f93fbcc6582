#include "gandrel/output_files.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

std::vector<std::string> OutputNames(const std::vector<std::string>& files) {
  std::vector<std::string> names;
  for (const std::string& file : files) {
    const std::string base = fs::path(file).filename().string();
    std::string name = base;
    for (int n = 2; std::find(names.begin(), names.end(), name) != names.end(); ++n) {
      name = base + "-" + std::to_string(n);
    }
    names.push_back(name);
  }
  return names;
}

bool NamesTheDataFile(const char* command, const std::string& file, const std::string& out) {
  std::error_code ec;
  if (out.empty() || !fs::exists(out, ec) || !fs::equivalent(file, out, ec)) return false;
  fprintf(stderr, "gandrel %s: %s: is the data file itself, not written\n", command, out.c_str());
  return true;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
  return fclose(f) == 0 && ok;
}
