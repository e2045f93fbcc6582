#include "reader/compression.h"

#include <cstring>

namespace {

// Writes `count` bytes (from `source`, or `count` copies of `fill` when
// `source` is null) at decoded position `at`, keeping to the capacity.
void Emit(uint8_t* destination, uint32_t capacity, uint64_t at,
          const uint8_t* source, uint8_t fill, uint32_t count) {
  if (destination == nullptr || at >= capacity) return;
  const uint64_t room = capacity - at;
  const uint32_t n = room < count ? static_cast<uint32_t>(room) : count;
  if (source != nullptr) {
    memcpy(destination + at, source, n);
  } else {
    memset(destination + at, fill, n);
  }
}

}  // namespace

void FeedRunLength(RunLengthDecoder* decoder, const uint8_t* data,
                   uint32_t length, uint8_t* destination, uint32_t capacity) {
  using Step = RunLengthDecoder::Step;
  uint32_t i = 0;
  while (i < length) {
    switch (decoder->step) {
      case Step::CountLow:
        decoder->countLow = data[i++];
        decoder->step = Step::CountHigh;
        break;
      case Step::CountHigh: {
        const uint32_t count = decoder->countLow | (static_cast<uint32_t>(data[i++]) << 8);
        if (decoder->literal) {
          decoder->remaining = count;
          decoder->step = Step::Literal;
          // An empty literal block is complete at once.
          if (count == 0) {
            decoder->literal = false;
            decoder->step = Step::CountLow;
          }
        } else {
          decoder->remaining = count;
          decoder->step = Step::RunByte;
        }
        break;
      }
      case Step::Literal: {
        const uint32_t available = length - i;
        const uint32_t n = available < decoder->remaining ? available : decoder->remaining;
        Emit(destination, capacity, decoder->produced, data + i, 0, n);
        decoder->produced += n;
        decoder->remaining -= n;
        i += n;
        if (decoder->remaining == 0) {
          decoder->literal = false;
          decoder->step = Step::CountLow;
        }
        break;
      }
      case Step::RunByte:
        Emit(destination, capacity, decoder->produced, nullptr, data[i++],
             decoder->remaining);
        decoder->produced += decoder->remaining;
        decoder->remaining = 0;
        decoder->literal = true;
        decoder->step = Step::CountLow;
        break;
    }
  }
}
