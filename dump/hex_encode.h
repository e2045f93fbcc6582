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

// The fast encoder: 32 bytes per step with SSE2 where the compiler targets it
// (every x86-64 build; the 32-bit MinGW build through -msse2, set for this
// file in dump/CMakeLists.txt), EncodeHexScalar everywhere else.
void EncodeHex(const uint8_t* bytes, size_t length, char* out);

// The portable encoder, one table lookup per byte.  Same output as EncodeHex;
// kept callable on every build so tests and benchmarks can hold them side by
// side.
void EncodeHexScalar(const uint8_t* bytes, size_t length, char* out);

#endif  // GANDREL_DUMP_HEX_ENCODE_H_
