// Hex text of a byte range, as the dump writers' hex formats write it: each
// byte becomes two lower-case hex digits, high nibble first (printf "%02x"
// per byte), with no separators and no terminator.
//
// Both functions read exactly `length` bytes at `bytes` (null allowed when
// `length` is 0) and write exactly 2 * `length` chars at `out`, owned by the
// caller; neither range needs any alignment, and they must not overlap.
#ifndef GANDREL_DUMP_HEX_ENCODE_H_
#define GANDREL_DUMP_HEX_ENCODE_H_

#include <cstddef>
#include <cstdint>

// The fast encoder: the widest of those below that this processor runs,
// chosen at the first call.
void EncodeHex(const uint8_t* bytes, size_t length, char* out);

// The portable encoder, one table lookup per byte.  Same output as EncodeHex;
// kept callable on every build so tests and benchmarks can hold them side by
// side.
void EncodeHexScalar(const uint8_t* bytes, size_t length, char* out);

// Every encoder of this build that this processor runs, the fastest first
// (the one EncodeHex calls), the scalar one last: 32 bytes per step with
// AVX2 where the compiler can build it and the processor has it, 32 bytes
// per step with SSE2 on every x86 build (the 32-bit MinGW build through
// -msse2, set for this file in dump/CMakeLists.txt).  For tests and
// benchmarks; returns how many it wrote to `out`.
using HexEncoder = void (*)(const uint8_t* bytes, size_t length, char* out);
struct NamedHexEncoder {
  const char* name;
  HexEncoder encode;
};
constexpr int kMostHexEncoders = 3;
int AvailableHexEncoders(NamedHexEncoder out[kMostHexEncoders]);

#endif  // GANDREL_DUMP_HEX_ENCODE_H_
