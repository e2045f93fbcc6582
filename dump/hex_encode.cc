#include "dump/hex_encode.h"

#include <cstring>

// MSVC names SSE2 differently from GCC and clang.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define GANDREL_HEX_SSE2 1
#include <emmintrin.h>
#endif
// GCC and clang build one function for AVX2 in a file compiled for less,
// and ask the processor at run time whether it has it.
#if defined(GANDREL_HEX_SSE2) && (defined(__GNUC__) || defined(__clang__))
#define GANDREL_HEX_AVX2 1
#include <immintrin.h>
#endif

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// The two digits of every byte value, high nibble first: one lookup per byte
// instead of two shifts and two lookups.
struct HexPairs {
  char digits[2 * 256];
};

constexpr HexPairs MakeHexPairs() {
  HexPairs pairs{};
  for (int value = 0; value < 256; ++value) {
    pairs.digits[2 * value] = kHexDigits[value >> 4];
    pairs.digits[2 * value + 1] = kHexDigits[value & 0x0F];
  }
  return pairs;
}

constexpr HexPairs kHexPairs = MakeHexPairs();

#if defined(GANDREL_HEX_SSE2)

// Nibbles 0..15 in each lane to '0'..'9', 'a'..'f': '0' + n, plus the gap
// from '9' + 1 to 'a' (39) where n > 9.
inline __m128i NibblesToDigits(__m128i nibbles) {
  const __m128i letters = _mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9));
  const __m128i digits = _mm_add_epi8(nibbles, _mm_set1_epi8('0'));
  return _mm_add_epi8(digits, _mm_and_si128(letters, _mm_set1_epi8('a' - '9' - 1)));
}

// The 32 digits of the 16 bytes at `bytes`.  The high nibbles come from a
// 16-bit shift, so the mask also drops the bits shifted in from the
// neighbouring byte; interleaving high and low lanes puts each byte's high
// digit first.
inline void Encode16(const uint8_t* bytes, char* out) {
  const __m128i mask = _mm_set1_epi8(0x0F);
  const __m128i value = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  const __m128i high = NibblesToDigits(_mm_and_si128(_mm_srli_epi16(value, 4), mask));
  const __m128i low = NibblesToDigits(_mm_and_si128(value, mask));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(high, low));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi8(high, low));
}

void EncodeHexSse2(const uint8_t* bytes, size_t length, char* out) {
  if (length < 16) {
    EncodeHexScalar(bytes, length, out);
    return;
  }
  size_t done = 0;
  // Two independent 16-byte steps per turn keep both halves in flight.
  for (; length - done >= 32; done += 32) {
    Encode16(bytes + done, out + 2 * done);
    Encode16(bytes + done + 16, out + 2 * done + 32);
  }
  if (length - done >= 16) {
    Encode16(bytes + done, out + 2 * done);
    done += 16;
  }
  // The last 1..15 bytes: encode the final 16 of the range again, which
  // rewrites some digits already written with the same values and reads or
  // writes nothing outside either range.
  if (done < length) Encode16(bytes + length - 16, out + 2 * (length - 16));
}

#endif  // GANDREL_HEX_SSE2

#if defined(GANDREL_HEX_AVX2)

// The 64 digits of the 32 bytes at `bytes`: each nibble looked up in a
// table of the sixteen digits (vpshufb looks up within each 16-byte lane,
// so the table is there twice).  Interleaving works within the lanes too:
// `first` holds the digits of bytes 0-7 and 16-23, `second` those of 8-15
// and 24-31, and the lane swaps put them back in order.
__attribute__((target("avx2"))) inline void Encode32(const uint8_t* bytes, char* out) {
  const __m256i mask = _mm256_set1_epi8(0x0F);
  const __m256i table = _mm256_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a',
                                         'b', 'c', 'd', 'e', 'f', '0', '1', '2', '3', '4', '5',
                                         '6', '7', '8', '9', 'a', 'b', 'c', 'd', 'e', 'f');
  const __m256i value = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
  const __m256i high =
      _mm256_shuffle_epi8(table, _mm256_and_si256(_mm256_srli_epi16(value, 4), mask));
  const __m256i low = _mm256_shuffle_epi8(table, _mm256_and_si256(value, mask));
  const __m256i first = _mm256_unpacklo_epi8(high, low);
  const __m256i second = _mm256_unpackhi_epi8(high, low);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(first, second, 0x20));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32),
                      _mm256_permute2x128_si256(first, second, 0x31));
}

__attribute__((target("avx2"))) void EncodeHexAvx2(const uint8_t* bytes, size_t length,
                                                   char* out) {
  if (length < 32) {
    EncodeHexSse2(bytes, length, out);
    return;
  }
  size_t done = 0;
  for (; length - done >= 32; done += 32) Encode32(bytes + done, out + 2 * done);
  // The last 1..31 bytes: the final 32 of the range again, as EncodeHexSse2
  // does with 16.
  if (done < length) Encode32(bytes + length - 32, out + 2 * (length - 32));
}

bool ProcessorHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}

#endif  // GANDREL_HEX_AVX2

HexEncoder FastestEncoder() {
  NamedHexEncoder encoders[kMostHexEncoders];
  AvailableHexEncoders(encoders);
  return encoders[0].encode;
}

}  // namespace

void EncodeHexScalar(const uint8_t* bytes, size_t length, char* out) {
  for (size_t i = 0; i < length; ++i) {
    memcpy(out + 2 * i, &kHexPairs.digits[2 * bytes[i]], 2);
  }
}

void EncodeHex(const uint8_t* bytes, size_t length, char* out) {
  static const HexEncoder encode = FastestEncoder();
  encode(bytes, length, out);
}

int AvailableHexEncoders(NamedHexEncoder out[kMostHexEncoders]) {
  int n = 0;
#if defined(GANDREL_HEX_AVX2)
  if (ProcessorHasAvx2()) out[n++] = {"avx2", EncodeHexAvx2};
#endif
#if defined(GANDREL_HEX_SSE2)
  out[n++] = {"sse2", EncodeHexSse2};
#endif
  out[n++] = {"scalar", EncodeHexScalar};
  return n;
}
