// The free-slot chain: the slots a file's engine has freed (and, from
// 0x0600 on, those never used), linked from the control page.  Salvage
// only counts them; a freed slot keeps nothing of its record.
//
//   version          head in the control page   address            link in a free slot
//   0x0300-0x0500    16, u32, halves swapped    file offset        bytes 0-3, halves swapped
//   0x0600-0x0700    156, u32, halves swapped   logical page x     bytes 2-5 after the zero
//                                               page size + offset slot word (compressed: 0-3)
//   0x0800-0x0950    160, u32                   logical page << s  u32 at 2 (compressed: at 0)
//                                               | slot
// s = max(4, bit length of (slots per page - 1)).  0xFFFFFFFF ends the
// chain everywhere.
#ifndef GANDREL_SALVAGE_FREE_CHAIN_H_
#define GANDREL_SALVAGE_FREE_CHAIN_H_

#include <cstdint>
#include <string>

#include "reader/input_stream.h"
#include "salvage/geometry.h"
#include "salvage/page_scan.h"

constexpr uint32_t kFreeChainEnd = 0xFFFFFFFF;
constexpr uint32_t kFreeHeadOldOffset = 16;
constexpr uint32_t kFreeHeadMiddleOffset = 156;
constexpr uint32_t kFreeHeadNewOffset = 160;

struct FreeChainCount {
  bool known = false;     // the head could be read
  uint64_t slots = 0;     // slots visited before the end or a break
  bool broken = false;    // the chain led outside the file's slots, or
                          // round: `problem` says where
  std::string problem;
};

// Follows the chain of `input` from the chosen control page copy, logical
// pages through the directory of `scan`.  Stops after as many steps as
// the file has slots, so a chain that goes round ends.
void CountFreeChain(InputFile* input, const Geometry& geometry, const ScanResult& scan,
                    FreeChainCount* count);

#endif  // GANDREL_SALVAGE_FREE_CHAIN_H_
