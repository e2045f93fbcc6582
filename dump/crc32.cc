#include "dump/crc32.h"

namespace {

constexpr uint32_t kCrcPolynomial = 0x04C11DB7;

uint32_t crcTable[256];
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
  crcTableReady = true;
}

bool CrcTableReady() { return crcTableReady; }

uint32_t Crc32(uint32_t length, const uint8_t* bytes) {
  if (!crcTableReady) BuildCrcTable();
  uint32_t reg = 0xFFFFFFFFu;
  for (uint32_t i = 0; i < length; ++i) {
    reg = (reg >> 8) ^ crcTable[(reg ^ bytes[i]) & 0xFF];
  }
  return reg ^ 0xFFFFFFFFu;
}
