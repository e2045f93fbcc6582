#include "wizard/banner_image.h"

#include <cstddef>
#include <cstring>

const BannerPage kBannerPages[kBannerCount] = {
    {"Salqua.ocx", "Step 1 of 4: Legal Agreement"},
    {"Trevik.dll", "Step 2 of 4: Source Setup"},
    {"Ombrel.ici", "Step 3 of 4: Output Setup"},
    {"pendlox.dat", "Step 4 of 4: Processing"},
};

namespace {

constexpr char kProductName[] = "Visual Gandrel";

// A 5 by 9 pixel font with the characters the banners use.  Rows 0 to 6
// stand on the base line, rows 7 and 8 hold descenders; '#' is ink.
constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 9;
constexpr int kGlyphAdvance = kGlyphWidth + 1;

struct Glyph {
  char character;
  const char* rows[kGlyphHeight];
};

constexpr Glyph kGlyphs[] = {
    {' ', {".....", ".....", ".....", ".....", ".....", ".....", ".....", ".....", "....."}},
    {':', {".....", "..#..", "..#..", ".....", "..#..", "..#..", ".....", ".....", "....."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###.", ".....", "....."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####", ".....", "....."}},
    {'3', {"####.", "....#", "....#", ".###.", "....#", "....#", "####.", ".....", "....."}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#.", ".....", "....."}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#", ".....", "....."}},
    {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".###.", ".....", "....."}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####", ".....", "....."}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###.", ".....", "....."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#....", ".....", "....."}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####.", ".....", "....."}},
    {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#..", ".....", "....."}},
    {'a', {".....", ".....", ".###.", "....#", ".####", "#...#", ".####", ".....", "....."}},
    {'c', {".....", ".....", ".###.", "#....", "#....", "#...#", ".###.", ".....", "....."}},
    {'d', {"....#", "....#", ".##.#", "#..##", "#...#", "#...#", ".####", ".....", "....."}},
    {'e', {".....", ".....", ".###.", "#...#", "#####", "#....", ".###.", ".....", "....."}},
    {'f', {"..##.", ".#..#", ".#...", "###..", ".#...", ".#...", ".#...", ".....", "....."}},
    {'g', {".....", ".....", ".####", "#...#", "#...#", "#...#", ".####", "....#", ".###."}},
    {'i', {"..#..", ".....", ".##..", "..#..", "..#..", "..#..", ".###.", ".....", "....."}},
    {'l', {".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###.", ".....", "....."}},
    {'m', {".....", ".....", "##.#.", "#.#.#", "#.#.#", "#...#", "#...#", ".....", "....."}},
    {'n', {".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#", ".....", "....."}},
    {'o', {".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###.", ".....", "....."}},
    {'p', {".....", ".....", "####.", "#...#", "#...#", "#...#", "####.", "#....", "#...."}},
    {'r', {".....", ".....", "#.##.", "##..#", "#....", "#....", "#....", ".....", "....."}},
    {'s', {".....", ".....", ".####", "#....", ".###.", "....#", "####.", ".....", "....."}},
    {'t', {".#...", ".#...", "####.", ".#...", ".#...", ".#..#", "..##.", ".....", "....."}},
    {'u', {".....", ".....", "#...#", "#...#", "#...#", "#..##", ".##.#", ".....", "....."}},
};

struct Colour {
  uint8_t red, green, blue;
};

constexpr Colour kInk = {255, 255, 255};
constexpr Colour kStepInk = {200, 228, 240};
constexpr Colour kRule = {120, 190, 210};

// Pixels top-down, row by row, for drawing; written bottom-up at the end.
struct Canvas {
  std::vector<Colour> pixels;

  void Put(int x, int y, Colour colour) {
    if (x < 0 || y < 0 || x >= kBannerWidth || y >= kBannerHeight) return;
    pixels[static_cast<size_t>(y) * kBannerWidth + static_cast<size_t>(x)] = colour;
  }
  void Fill(int x, int y, int width, int height, Colour colour) {
    for (int row = y; row < y + height; ++row) {
      for (int column = x; column < x + width; ++column) Put(column, row, colour);
    }
  }
};

const Glyph* FindGlyph(char character) {
  for (const Glyph& glyph : kGlyphs) {
    if (glyph.character == character) return &glyph;
  }
  return nullptr;
}

// Draws `text` with its top-left corner at x, y, each font pixel a square
// of `scale` pixels.  A character without a glyph leaves a gap.
void DrawText(Canvas& canvas, int x, int y, int scale, const char* text,
              Colour colour) {
  for (; *text != '\0'; ++text, x += kGlyphAdvance * scale) {
    const Glyph* glyph = FindGlyph(*text);
    if (glyph == nullptr) continue;
    for (int row = 0; row < kGlyphHeight; ++row) {
      for (int column = 0; column < kGlyphWidth; ++column) {
        if (glyph->rows[row][column] != '#') continue;
        canvas.Fill(x + column * scale, y + row * scale, scale, scale, colour);
      }
    }
  }
}

// A horizontal run from deep blue on the left to teal on the right.
Colour Background(int x) {
  const int span = kBannerWidth - 1;
  return Colour{static_cast<uint8_t>(20 + 16 * x / span),
                static_cast<uint8_t>(48 + 80 * x / span),
                static_cast<uint8_t>(96 + 48 * x / span)};
}

void PutLE16(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  bytes[offset] = static_cast<uint8_t>(value);
  bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void PutLE32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Step marks: four squares at the right end of the title line, the one of
// page `index` filled.  The window's client area is a few pixels narrower
// than the banner, so they keep well clear of the right edge.
void DrawStepMarks(Canvas& canvas, int index) {
  constexpr int kMarkSize = 14;
  constexpr int kMarkGap = 8;
  const int firstMark = kBannerWidth - 24 - kBannerCount * (kMarkSize + kMarkGap);
  for (int step = 0; step < kBannerCount; ++step) {
    const int x = firstMark + step * (kMarkSize + kMarkGap);
    const int y = 12;
    if (step == index) {
      canvas.Fill(x, y, kMarkSize, kMarkSize, kInk);
    } else {
      canvas.Fill(x, y, kMarkSize, 2, kStepInk);
      canvas.Fill(x, y + kMarkSize - 2, kMarkSize, 2, kStepInk);
      canvas.Fill(x, y, 2, kMarkSize, kStepInk);
      canvas.Fill(x + kMarkSize - 2, y, 2, kMarkSize, kStepInk);
    }
  }
}

// File layout: BITMAPFILEHEADER (14 bytes), BITMAPINFOHEADER (40 bytes),
// then the rows from the bottom one up, 3 bytes per pixel in the order
// blue, green, red; 560 * 3 is a multiple of 4, so rows need no padding.
std::vector<uint8_t> EncodeBmp(const Canvas& canvas) {
  constexpr uint32_t kHeaderSize = 14 + 40;
  constexpr uint32_t kRowSize = kBannerWidth * 3;
  static_assert(kRowSize % 4 == 0, "BMP rows would need padding");
  constexpr uint32_t kImageSize = kRowSize * kBannerHeight;

  std::vector<uint8_t> bytes(kHeaderSize + kImageSize, 0);
  bytes[0] = 'B';
  bytes[1] = 'M';
  PutLE32(bytes, 2, kHeaderSize + kImageSize);
  PutLE32(bytes, 10, kHeaderSize);
  PutLE32(bytes, 14, 40);
  PutLE32(bytes, 18, kBannerWidth);
  PutLE32(bytes, 22, kBannerHeight);
  PutLE16(bytes, 26, 1);   // planes
  PutLE16(bytes, 28, 24);  // bits per pixel
  PutLE32(bytes, 30, 0);   // BI_RGB
  PutLE32(bytes, 34, kImageSize);
  PutLE32(bytes, 38, 2835);  // 72 dots per inch, in dots per metre
  PutLE32(bytes, 42, 2835);

  size_t out = kHeaderSize;
  for (int y = kBannerHeight - 1; y >= 0; --y) {
    for (int x = 0; x < kBannerWidth; ++x) {
      const Colour c = canvas.pixels[static_cast<size_t>(y) * kBannerWidth + static_cast<size_t>(x)];
      bytes[out++] = c.blue;
      bytes[out++] = c.green;
      bytes[out++] = c.red;
    }
  }
  return bytes;
}

}  // namespace

std::vector<uint8_t> BuildBannerBmp(int index) {
  if (index < 0 || index >= kBannerCount) return {};

  Canvas canvas;
  canvas.pixels.resize(static_cast<size_t>(kBannerWidth) * kBannerHeight);
  for (int y = 0; y < kBannerHeight; ++y) {
    for (int x = 0; x < kBannerWidth; ++x) canvas.Put(x, y, Background(x));
  }
  canvas.Fill(0, kBannerHeight - 2, kBannerWidth, 2, kRule);

  DrawText(canvas, 16, 8, 3, kProductName, kInk);
  DrawText(canvas, 18, 38, 2, kBannerPages[index].stepText, kStepInk);
  DrawStepMarks(canvas, index);
  return EncodeBmp(canvas);
}
