// Build-time tool: writes the wizard's four banner bitmaps into the
// directory given as its only argument.  Runs on the build machine, so it
// uses the standard library alone.
//
//   make_banners <output directory>
#include <cstdio>
#include <string>
#include <vector>

#include "wizard/banner_image.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_banners <output directory>\n");
    return 2;
  }
  for (int i = 0; i < kBannerCount; ++i) {
    const std::string path = std::string(argv[1]) + "/" + kBannerPages[i].fileName;
    const std::vector<uint8_t> bytes = BuildBannerBmp(i);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
      std::fprintf(stderr, "make_banners: cannot create %s\n", path.c_str());
      return 1;
    }
    const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
    if (std::fclose(file) != 0 || written != bytes.size()) {
      std::fprintf(stderr, "make_banners: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
