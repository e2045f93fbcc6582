// Record compression of versions 0x0800 and 0x0900: a compressed record is
// stored as a run-length stream, cut into fragments on variable pages.  The
// stream is a sequence of blocks that alternate, starting with a literal
// block:
//
//   literal block   u16 n, then n bytes taken as they are
//   run block       u16 n, then one byte that stands for n copies of itself
//
// Either kind may have n = 0 (a run block still carries its byte).  The
// stream simply ends after its last block.  A fragment boundary may fall
// anywhere, inside a count or a block, so the decoder is fed piece by piece
// and keeps its place between pieces.
#ifndef GANDREL_READER_COMPRESSION_H_
#define GANDREL_READER_COMPRESSION_H_

#include <cstdint>

struct RunLengthDecoder {
  enum class Step : uint8_t { CountLow, CountHigh, Literal, RunByte };
  Step step = Step::CountLow;
  bool literal = true;      // kind of the block being read
  uint8_t countLow = 0;
  uint32_t remaining = 0;   // literal bytes still to come
  uint64_t produced = 0;    // decoded bytes so far, written or not
};

// Decodes `length` more bytes of the stream.  Decoded byte i is written to
// destination[i] only while i < capacity; beyond that it is only counted, so
// `produced` ends as the record's full decoded length.  `destination` may be
// null (nothing is written).
void FeedRunLength(RunLengthDecoder* decoder, const uint8_t* data,
                   uint32_t length, uint8_t* destination, uint32_t capacity);

// True when the stream fed so far ends after a whole block: a record's
// stream as the engine writes it ends exactly there, with no count or
// literal byte left over.
inline bool RunLengthEndsOnBlock(const RunLengthDecoder& decoder) {
  return decoder.step == RunLengthDecoder::Step::CountLow;
}

#endif  // GANDREL_READER_COMPRESSION_H_
