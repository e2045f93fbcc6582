// The banner bitmaps the build draws: valid BMP files of the size the pages
// leave for them, the same bytes on every build, one per page.
#include "wizard/banner_image.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

uint32_t LE32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t LE16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

TEST(BannerImageTest, EveryBannerIsAnUncompressed24BitBmpOfTheBannerSize) {
  for (int i = 0; i < kBannerCount; ++i) {
    SCOPED_TRACE(kBannerPages[i].fileName);
    const std::vector<uint8_t> bmp = BuildBannerBmp(i);
    ASSERT_GE(bmp.size(), 54u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(LE32(bmp, 2), bmp.size());
    const uint32_t pixelsAt = LE32(bmp, 10);
    EXPECT_EQ(LE32(bmp, 14), 40u);  // BITMAPINFOHEADER
    const int32_t width = static_cast<int32_t>(LE32(bmp, 18));
    const int32_t height = static_cast<int32_t>(LE32(bmp, 22));
    EXPECT_EQ(width, 560);
    EXPECT_GT(height, 0);   // bottom-up rows
    EXPECT_LT(height, 72);  // the pages' titles start at y 72
    EXPECT_EQ(LE16(bmp, 26), 1);
    EXPECT_EQ(LE16(bmp, 28), 24);
    EXPECT_EQ(LE32(bmp, 30), 0u);  // BI_RGB
    const uint32_t rowBytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    EXPECT_EQ(bmp.size(), pixelsAt + rowBytes * static_cast<uint32_t>(height));
  }
}

// FNV-1a over the whole file, to tell the banners apart.
uint64_t Digest(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
  return hash;
}

TEST(BannerImageTest, SameBytesOnEveryCallAndADifferentBannerPerPage) {
  std::set<uint64_t> distinct;
  for (int i = 0; i < kBannerCount; ++i) {
    const uint64_t digest = Digest(BuildBannerBmp(i));
    EXPECT_EQ(Digest(BuildBannerBmp(i)), digest);
    distinct.insert(digest);
  }
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kBannerCount));
  EXPECT_TRUE(BuildBannerBmp(-1).empty());
  EXPECT_TRUE(BuildBannerBmp(kBannerCount).empty());
}

TEST(BannerImageTest, FileNamesAreThoseThePagesLoad) {
  const char* kNames[] = {"Salqua.ocx", "Trevik.dll", "Ombrel.ici", "pendlox.dat"};
  for (int i = 0; i < kBannerCount; ++i) EXPECT_STREQ(kBannerPages[i].fileName, kNames[i]);
}

TEST(BannerImageTest, TitleLettersAreDrawnInWhiteOnTheDarkBand) {
  // The product name is written in white near the top left; the band
  // itself has no white pixel anywhere.
  const std::vector<uint8_t> bmp = BuildBannerBmp(0);
  const uint32_t pixelsAt = LE32(bmp, 10);
  const int height = static_cast<int>(LE32(bmp, 22));
  auto isWhite = [&](int x, int y) {
    const size_t at = pixelsAt + static_cast<size_t>(height - 1 - y) * 560 * 3 + x * 3;
    return bmp[at] == 255 && bmp[at + 1] == 255 && bmp[at + 2] == 255;
  };
  int whiteInTitle = 0;
  for (int y = 0; y < 36; ++y) {
    for (int x = 0; x < 300; ++x) whiteInTitle += isWhite(x, y) ? 1 : 0;
  }
  EXPECT_GT(whiteInTitle, 500);
  int whiteInStepLine = 0;
  for (int y = 36; y < height; ++y) {
    for (int x = 0; x < 560; ++x) whiteInStepLine += isWhite(x, y) ? 1 : 0;
  }
  EXPECT_EQ(whiteInStepLine, 0);
}

}  // namespace
