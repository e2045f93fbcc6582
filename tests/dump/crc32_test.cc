#include "dump/crc32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#ifdef GANDREL_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

uint32_t CrcOf(const std::string& text) {
  return Crc32(static_cast<uint32_t>(text.size()),
               reinterpret_cast<const uint8_t*>(text.data()));
}

// --- Known values ------------------------------------------------------------

TEST(Crc32Test, KnownValues) {
  EXPECT_EQ(Crc32(0, nullptr), 0u);
  EXPECT_EQ(CrcOf("abc"), 0x352441C2u);
  EXPECT_EQ(CrcOf("abc"), 891568578u);
  EXPECT_EQ(CrcOf("123456789"), 0xCBF43926u);  // the catalogue's check value
  // One byte gives table entry b, passed through the pre- and post-inversion.
  const uint8_t zero = 0x00;
  EXPECT_EQ(Crc32(1, &zero), 0xD202EF8Du);
  const uint8_t ff = 0xFF;
  EXPECT_EQ(Crc32(1, &ff), 0xFF000000u);
}

TEST(Crc32Test, RebuildingTheTableChangesNothing) {
  const uint32_t before = CrcOf("The quick brown fox jumps over the lazy dog");
  BuildCrcTable();
  EXPECT_TRUE(CrcTableReady());
  EXPECT_EQ(CrcOf("The quick brown fox jumps over the lazy dog"), before);
  EXPECT_EQ(before, 0x414FA339u);
}

#ifdef GANDREL_HAVE_ZLIB
TEST(Crc32Test, MatchesZlibOnRandomData) {
  const uint32_t seed = 20240611;
  std::mt19937 random(seed);
  std::vector<uint8_t> data;
  for (int round = 0; round < 300; ++round) {
    const uint32_t length = round < 64 ? static_cast<uint32_t>(round)
                                       : random() % 70000;
    data.resize(length);
    for (uint8_t& b : data) b = static_cast<uint8_t>(random());
    const uLong expected = crc32(0L, data.data(), static_cast<uInt>(length));
    ASSERT_EQ(Crc32(length, data.data()), static_cast<uint32_t>(expected))
        << "seed " << seed << " round " << round << " length " << length;
  }
}
#endif

}  // namespace
