// Every hex encoder this processor runs against a digit-by-digit reference:
// every length up to a few SIMD steps, at every alignment of input and output, writing nothing
// outside the 2 * length chars they own.  (The dump entry tests hold the
// digits against printf.)
#include "dump/hex_encode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Reference(const uint8_t* bytes, size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    text += "0123456789abcdef"[bytes[i] >> 4];
    text += "0123456789abcdef"[bytes[i] & 0x0F];
  }
  return text;
}

TEST(HexEncodeTest, EveryLengthAndAlignmentMatchesTheReference) {
  const uint32_t seed = 20261208;
  uint32_t state = seed;
  constexpr size_t kGuard = 32;
  NamedHexEncoder encoders[kMostHexEncoders];
  const int count = AvailableHexEncoders(encoders);
  ASSERT_GE(count, 1);
  EXPECT_STREQ(encoders[count - 1].name, "scalar");
  for (size_t length = 0; length <= 300; ++length) {
    for (size_t shift = 0; shift < 32; ++shift) {
      // Input exactly as long as needed, so a sanitizer build sees a read
      // past its end; output shifted independently and fenced by guards.
      std::vector<uint8_t> input(shift + length);
      for (uint8_t& b : input) {
        state = state * 1103515245u + 12345u;
        b = static_cast<uint8_t>(state >> 16);
      }
      const size_t outShift = (shift * 7) % 32;
      const std::string expected = std::string(kGuard + outShift, '#') +
                                   Reference(input.data() + shift, length) +
                                   std::string(kGuard, '#');
      for (int e = 0; e <= count; ++e) {
        const NamedHexEncoder encoder = e < count ? encoders[e] : NamedHexEncoder{"EncodeHex", EncodeHex};
        std::string out(expected.size(), '#');
        encoder.encode(input.data() + shift, length, out.data() + kGuard + outShift);
        ASSERT_EQ(out, expected) << "length " << length << ", input shift " << shift
                                 << ", seed " << seed << ", " << encoder.name;
      }
    }
  }
}

}  // namespace
