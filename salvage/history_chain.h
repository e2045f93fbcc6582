// Chains of old records: the reader's chain walker (reader/chain.h) over
// every copy of each variable page, the current copy first, then the
// superseded ones newest first.  A fragment is taken from the first copy
// that holds it; when the record does not come out whole (its chain breaks,
// a compressed stream does not decode to its length, a chunk falls short),
// the walk is tried again with the next copy at the last step that had one,
// up to kMaxChainTries walks.
#ifndef GANDREL_SALVAGE_HISTORY_CHAIN_H_
#define GANDREL_SALVAGE_HISTORY_CHAIN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "reader/chain.h"
#include "reader/input_stream.h"
#include "salvage/geometry.h"
#include "salvage/page_scan.h"

// Walks per record, all choices together: a record whose fragments have
// many copies each is given up rather than searched for long.
constexpr uint32_t kMaxChainTries = 64;

struct CopyChain {
  InputFile* input = nullptr;
  const Geometry* geometry = nullptr;
  // Per logical variable page: its physical copies, current first.
  std::vector<std::vector<uint32_t>> copies;
  std::vector<uint8_t> page;     // the copy last loaded
  int64_t pageOffset = -1;
  VisitedFragments visited;
};

// Lists the copies of every variable page from `scan`.  0x0600 and 0x0610
// chains find the current copy through the page map as it stands, later
// versions through the page directory.
void PrepareCopyChain(CopyChain* chain, InputFile* input, const Geometry* geometry,
                      const ScanResult& scan);

// Rebuilds the record of the data page slot at `slot` (the page's bytes
// around it readable, zeros past the page): fixed part and tail, or the
// decoded stream, into `record`.  False with `reason` set when no choice of
// copies gives it whole.
bool RebuildRecord(CopyChain* chain, const uint8_t* slot, std::vector<uint8_t>* record,
                   std::string* reason);

#endif  // GANDREL_SALVAGE_HISTORY_CHAIN_H_
