#include "dump/crc32.h"

namespace {

constexpr uint32_t kCrcPolynomial = 0x04C11DB7;

uint32_t crcTable[256];
// Slicing by eight: slice k gives the register's change for a byte followed
// by k zero bytes, so eight bytes take eight independent lookups instead of
// a chain of eight.  Slice 0 is crcTable itself.
uint32_t crcSlices[8][256];
bool crcTableReady = false;

// Mirrors the lowest `bits` bits of `value`.
uint32_t Reflect(uint32_t value, int bits) {
  uint32_t result = 0;
  for (int i = 0; i < bits; ++i) {
    result = (result << 1) | (value & 1);
    value >>= 1;
  }
  return result;
}

}  // namespace

void BuildCrcTable() {
  // Each entry is computed in the polynomial's natural (most significant bit
  // first) order and then mirrored, which gives the table of the reflected
  // algorithm that Crc32 runs.
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t reg = Reflect(i, 8) << 24;
    for (int step = 0; step < 8; ++step) {
      const bool topBit = (reg & 0x80000000u) != 0;
      reg <<= 1;
      if (topBit) reg ^= kCrcPolynomial;
    }
    crcTable[i] = Reflect(reg, 32);
  }
  for (uint32_t i = 0; i < 256; ++i) crcSlices[0][i] = crcTable[i];
  for (int k = 1; k < 8; ++k) {
    for (uint32_t i = 0; i < 256; ++i) {
      const uint32_t previous = crcSlices[k - 1][i];
      crcSlices[k][i] = (previous >> 8) ^ crcTable[previous & 0xFF];
    }
  }
  crcTableReady = true;
}

bool CrcTableReady() { return crcTableReady; }

uint32_t Crc32(uint32_t length, const uint8_t* bytes) {
  if (!crcTableReady) BuildCrcTable();
  uint32_t reg = 0xFFFFFFFFu;
  uint32_t i = 0;
  for (; i + 8 <= length; i += 8) {
    const uint8_t* b = bytes + i;
    const uint32_t low = reg ^ (b[0] | (b[1] << 8) | (b[2] << 16) |
                                (static_cast<uint32_t>(b[3]) << 24));
    reg = crcSlices[7][low & 0xFF] ^ crcSlices[6][(low >> 8) & 0xFF] ^
          crcSlices[5][(low >> 16) & 0xFF] ^ crcSlices[4][low >> 24] ^
          crcSlices[3][b[4]] ^ crcSlices[2][b[5]] ^ crcSlices[1][b[6]] ^
          crcSlices[0][b[7]];
  }
  for (; i < length; ++i) {
    reg = (reg >> 8) ^ crcTable[(reg ^ bytes[i]) & 0xFF];
  }
  return reg ^ 0xFFFFFFFFu;
}
