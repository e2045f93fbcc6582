// Variable tails and compressed records: the chain of fragments through the
// current variable pages, fed to a byte sink.  Every walk ends: at the
// chain's end marker, at a fragment it has visited before, or after
// kMaxChainSteps fragments; anything else that stops it (a page that cannot
// be found or read, a damaged fragment table) is a broken chain, and the
// bytes gathered before the break are kept.
#ifndef GANDREL_SALVAGE_CHAIN_H_
#define GANDREL_SALVAGE_CHAIN_H_

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "reader/compression.h"
#include "salvage/geometry.h"
#include "salvage/input_file.h"
#include "salvage/page_scan.h"

// Where the bytes of a record go: the first `capacity` bytes into
// `destination`, all of them counted in `length`; through `decoder` for a
// compressed record.
struct ByteSink {
  uint8_t* destination = nullptr;
  uint32_t capacity = 0;
  uint64_t length = 0;
  RunLengthDecoder* decoder = nullptr;
};

void AppendToSink(ByteSink* sink, const uint8_t* data, uint32_t length);

struct ChainWalker {
  InputFile* input = nullptr;
  const Geometry* geometry = nullptr;
  const PageDirectory* directory = nullptr;
  const std::vector<uint32_t>* mapped = nullptr;  // ScanResult::mapped
  std::vector<uint8_t> page;      // the variable page last loaded
  int64_t pageOffset = -1;
  std::unordered_set<uint64_t> visited;
};

void PrepareChainWalker(ChainWalker* walker, InputFile* input, const Geometry* geometry,
                        const PageDirectory* directory, const std::vector<uint32_t>* mapped);

// Follows the chain whose first pointer lies at `pointer` (4 bytes for
// versions below 0x0800, 6 from 0x0800 on) and appends every fragment's data
// to `sink`.  True when the chain ended at its end; false with `reason` set
// when it broke.
bool WalkChain(ChainWalker* walker, const uint8_t* pointer, ByteSink* sink,
               std::string* reason);

#endif  // GANDREL_SALVAGE_CHAIN_H_
