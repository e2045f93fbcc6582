// The four banner bitmaps of the wizard's pages, drawn in code so that the
// build makes them itself and every build makes the same bytes.  Each banner
// shows the product name and the page's step on a coloured band, with four
// step marks on the right, the current one filled.
#ifndef GANDREL_WIZARD_BANNER_IMAGE_H_
#define GANDREL_WIZARD_BANNER_IMAGE_H_

#include <cstdint>
#include <vector>

constexpr int kBannerWidth = 560;
constexpr int kBannerHeight = 64;  // the pages start their content at y 72
constexpr int kBannerCount = 4;

// One banner: the file the page loads and the step it names.
struct BannerPage {
  const char* fileName;  // looked up in the wizard's working directory
  const char* stepText;
};

// Banners in page order: agreement, source, output, processing.
extern const BannerPage kBannerPages[kBannerCount];

// The whole BMP file (24 bits per pixel, bottom-up rows, no compression) of
// the banner of page `index` (0 to 3).  Empty for any other index.
std::vector<uint8_t> BuildBannerBmp(int index);

#endif  // GANDREL_WIZARD_BANNER_IMAGE_H_
