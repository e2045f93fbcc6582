#include "salvage/free_chain.h"

#include "reader/format.h"

namespace {

uint32_t ReadU32(const uint8_t* p, bool swapped) {
  return swapped ? DecodeSwappedCount(p) : DecodeLE32(p);
}

// Where the chain is kept, by the row's rule.
struct ChainPlan {
  uint32_t headOffset;
  bool swapped;          // halves swapped (below 0x0800)
  uint32_t linkOffset;   // of the link within a free slot
  uint32_t slotShift;    // 0x0800 on: bits of the slot in an address
};

ChainPlan PlanChain(const Geometry& g, uint32_t slotsPerPage) {
  const FreeChainRule rule = g.layout->freeChain;
  if (rule == FreeChainRule::FileOffset) return ChainPlan{kFreeHeadOldOffset, true, 0, 0};
  if (rule == FreeChainRule::PageAndOffset) {
    return ChainPlan{kFreeHeadMiddleOffset, true, g.compressed ? 0u : 2u, 0};
  }
  uint32_t bits = 0;
  while (bits < 32 && (static_cast<uint64_t>(1) << bits) <= slotsPerPage - 1) ++bits;
  return ChainPlan{kFreeHeadNewOffset, false, g.compressed ? 0u : 2u, bits < 4 ? 4 : bits};
}

// File offset of the slot an address names, -1 when it names none: a page
// the file does not have, or an offset that is not a slot's start.
int64_t SlotOffsetOf(const Geometry& g, const ScanResult& scan, const ChainPlan& plan,
                     uint32_t slotsPerPage, uint32_t address) {
  const uint32_t header = g.layout->dataPageHeaderSize;
  uint64_t logical = 0;
  uint32_t inPage = 0;
  if (g.layout->freeChain == FreeChainRule::PageAndSlot) {
    logical = address >> plan.slotShift;
    const uint32_t slot = address & ((1u << plan.slotShift) - 1);
    if (slot >= slotsPerPage) return -1;
    inPage = header + slot * g.slotLength;
  } else {
    logical = address / g.pageSize;
    inPage = address % g.pageSize;
    if (inPage < header || (inPage - header) % g.slotLength != 0 ||
        (inPage - header) / g.slotLength >= slotsPerPage) {
      return -1;
    }
  }
  if (g.layout->freeChain == FreeChainRule::FileOffset) return static_cast<int64_t>(address);
  if (logical == 0 || logical >= scan.directory.data.size()) return -1;
  const uint32_t physical = scan.directory.data[static_cast<size_t>(logical)];
  if (physical == kNoPhysicalPage) return -1;
  return PhysicalPageOffset(g, physical) + inPage;
}

}  // namespace

void CountFreeChain(InputFile* input, const Geometry& g, const ScanResult& scan,
                    FreeChainCount* count) {
  *count = FreeChainCount{};
  const uint32_t slotsPerPage = SlotsPerPage(g);
  if (slotsPerPage == 0) return;
  const ChainPlan plan = PlanChain(g, slotsPerPage);
  const int64_t controlOffset = g.chosenCopy == 2 ? g.copies[1].offset : 0;
  uint8_t bytes[4];
  if (ReadInputAt(input, controlOffset + plan.headOffset, bytes, 4) != 4) return;
  count->known = true;
  uint32_t address = ReadU32(bytes, plan.swapped);
  // Every step visits a slot; more steps than the file has slots means the
  // chain goes round.
  const uint64_t bound = static_cast<uint64_t>(input->size / g.pageSize + 1) * slotsPerPage;
  while (address != kFreeChainEnd) {
    if (count->slots > bound) {
      count->broken = true;
      count->problem = "the chain comes back to a slot it has visited";
      return;
    }
    const int64_t slot = SlotOffsetOf(g, scan, plan, slotsPerPage, address);
    if (slot < 0 || ReadInputAt(input, slot + plan.linkOffset, bytes, 4) != 4) {
      count->broken = true;
      count->problem = "link " + std::to_string(count->slots + 1) + " names no slot of the file";
      return;
    }
    ++count->slots;
    address = ReadU32(bytes, plan.swapped);
  }
}
