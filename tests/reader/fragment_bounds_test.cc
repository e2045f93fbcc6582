// Every fragment the chain layer hands out lies inside its page, whatever the
// fragment table holds: the walkers above it (the reader's and salvage's)
// copy the bytes without checking again.  Tables of noise, entries above the
// table's start, deleted and unused entries, counts too large, swept with a
// fixed seed over every chain rule and page size.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "reader/chain.h"
#include "reader/format.h"
#include "reader/v8_layout.h"
#include "reader/version_rules.h"

namespace {

constexpr uint32_t kSeed = 20261209;

// An entry of a fragment table as damage leaves it.
uint16_t DamagedEntry(std::mt19937& random, uint32_t pageSize, uint32_t tableStart) {
  switch (random() % 6) {
    case 0: return 0xFFFF;                                            // deleted / unused
    case 1: return static_cast<uint16_t>(random());                   // noise
    case 2: return static_cast<uint16_t>(tableStart + random() % (pageSize - tableStart + 1));
    case 3: return static_cast<uint16_t>((random() % pageSize) | kFragmentHasPointer);
    default: return static_cast<uint16_t>(random() % pageSize);       // in the page
  }
}

void PutWord(std::vector<uint8_t>& page, size_t at, uint16_t value) {
  page[at] = static_cast<uint8_t>(value);
  page[at + 1] = static_cast<uint8_t>(value >> 8);
}

// Fills `page` with noise and a fragment table of the rule's shape.
void DamagedTable(std::mt19937& random, const ChainLayout& layout, std::vector<uint8_t>& page) {
  const uint32_t pageSize = static_cast<uint32_t>(page.size());
  for (uint8_t& b : page) b = static_cast<uint8_t>(random());
  const uint32_t entries = 1 + random() % 12;
  const bool counted = layout.rule != ChainRule::Pointer24Bit15 &&
                       layout.rule != ChainRule::Pointer24Header4;
  if (counted) {
    const uint32_t countAt = layout.rule == ChainRule::Pointer32Counted ? layout.countOffset
                                                                        : kOldFragmentCountOffset;
    // Mostly the number of entries written, sometimes more than fit.
    PutWord(page, countAt, static_cast<uint16_t>(random() % 8 == 0 ? random() : entries - 1));
  }
  const uint32_t tableStart = pageSize - 2 * entries;
  for (uint32_t e = 0; e < entries; ++e) {
    PutWord(page, pageSize - 2 - 2 * e, DamagedEntry(random, pageSize, tableStart));
  }
}

ChainLayout LayoutOf(const VersionRules& rules, bool compressed) {
  return ChainLayout{compressed ? rules.compressedChain : rules.chain, rules.fragmentHeaderSize,
                     rules.fragmentCountOffset, rules.firstFragmentOffset};
}

TEST(FragmentBoundsTest, NoTableDamageGivesAFragmentOutsideItsPage) {
  std::mt19937 random(kSeed);
  uint64_t located = 0;
  for (uint16_t version : {0x0300, 0x0600, 0x0700, 0x0800, 0x0950}) {
    const VersionRules& rules = *FindVersionRules(version);
    for (bool compressed : {false, true}) {
      const ChainLayout layout = LayoutOf(rules, compressed);
      for (uint32_t pageSize : {512u, 1024u, 4096u, 16384u}) {
        if (pageSize > 4096 && version < 0x0800) continue;
        std::vector<uint8_t> page(pageSize);
        for (int trial = 0; trial < 3000; ++trial) {
          DamagedTable(random, layout, page);
          for (uint32_t fragment = 0; fragment < 14; ++fragment) {
            Fragment f;
            if (!LocateFragment(layout, page.data(), pageSize, fragment, &f)) continue;
            ++located;
            ASSERT_LE(f.dataStart, pageSize)
                << "seed " << kSeed << " version " << version << " page size " << pageSize;
            ASSERT_LE(f.dataLength, pageSize - f.dataStart)
                << "seed " << kSeed << " version " << version << " page size " << pageSize;
          }
        }
      }
    }
  }
  // The damage must leave fragments to check, not only refusals.
  EXPECT_GT(located, 10000u);
}

}  // namespace
