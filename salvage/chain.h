// Variable tails and compressed records for salvage: the reader's chain
// walker (reader/chain.h) over the current variable pages that the page pass
// chose.  The walker decides when a chain ends; this file finds and reads
// the pages, refuses a page that is plainly not a variable page, and says
// whether the end was the chain's own or a break.
#ifndef GANDREL_SALVAGE_CHAIN_H_
#define GANDREL_SALVAGE_CHAIN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "reader/chain.h"
#include "reader/input_stream.h"
#include "salvage/geometry.h"
#include "salvage/page_scan.h"
#include "salvage/zeroed_sectors.h"

struct ChainWalker {
  InputFile* input = nullptr;
  const Geometry* geometry = nullptr;
  const PageDirectory* directory = nullptr;
  const std::vector<uint32_t>* mapped = nullptr;  // ScanResult::mapped
  std::vector<uint8_t> page;      // the variable page last loaded
  int64_t pageOffset = -1;
  ZeroedSectors zeroed;           // of the page last loaded
  bool lostSectors = false;       // every sector of zeros counts as lost
  VisitedFragments visited;
  std::vector<uint8_t> chunkTable;  // the chunk table of the record at hand
  ChainEnd lastEnd = ChainEnd::Running;  // how the last chain walked ended
};

void PrepareChainWalker(ChainWalker* walker, InputFile* input, const Geometry* geometry,
                        const PageDirectory* directory, const std::vector<uint32_t>* mapped);

// Follows the chain whose first pointer is stored at `pointer` and appends
// every fragment's data to `sink`.  True when the chain ended at its end;
// false with `reason` set when it broke (the sink keeps what came before).
// A fragment whose data touches a sector of zeros breaks the chain there.
bool WalkChain(ChainWalker* walker, const uint8_t* pointer, ByteSink* sink,
               std::string* reason);

// 0x0950 chunked tails: the chain at `pointer` holds a table of 10-byte
// entries (pointer, u32 length); each chunk is a chain of exactly that many
// bytes, and the tail is the chunks in table order.  A chunk that ends early
// breaks the record (the chunks after it are still read).
bool WalkChunkedTail(ChainWalker* walker, const uint8_t* pointer, ByteSink* sink,
                     std::string* reason);

#endif  // GANDREL_SALVAGE_CHAIN_H_
