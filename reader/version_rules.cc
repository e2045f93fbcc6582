#include "reader/version_rules.h"

namespace {

// The oldest class shares everything but the 0x0300 empty-slot tests.  Its
// compressed records (seen in 0x0500 files) have a used byte at 4 behind
// the 4-byte pointer; the middle class's a 3-byte marker there.
// Deleted slots of 0x0400 and 0x0500 files hold the 4-byte link of the
// free-slot chain followed by zeros, so the byte scan starts at offset 4: a
// live record whose bytes from 8 on happen to be zero must not be taken for
// empty.
constexpr VersionRules kOldClass = {
    .version = 0,
    .versionClass = 1,
    .control = ControlRule::CopyOneCountByWord4,
    .secondCopyPage = 0,
    .pageMap = PageMapRule::None,
    .consoleWalksMap = false,
    .wizardWalksMap = false,
    .kind = KindRule::Bit15AtOffset4,
    .pageNumber = PageNumberRule::Number24UsageWord4,
    .dataPageHeaderSize = 6,
    .slotCountReserve = 2,
    .chain = ChainRule::Pointer24Bit15,
    .compressedChain = ChainRule::Pointer24Bit15Counted,
    .fragmentHeaderSize = 0,
    .variableViaPageOffset = true,
    .sortDataPages = false,
    .emptySlotConsole = EmptySlotRule::ScanFrom4,
    .emptySlotWizard = EmptySlotRule::ScanFrom4,
    .emptySlotCompressed = EmptySlotRule::UsedByteAt4,
    .consoleChecksPageNumber = false,
    .consoleChecksZeroHeader = false,
    .recordLength32 = false,
};

constexpr VersionRules With0300(VersionRules rules) {
  rules.version = 0x0300;
  rules.emptySlotConsole = EmptySlotRule::FirstWordThenScanFrom4;
  rules.emptySlotWizard = EmptySlotRule::ScanFrom0;
  rules.consoleChecksZeroHeader = true;
  return rules;
}

constexpr VersionRules WithVersion(VersionRules rules, uint16_t version) {
  rules.version = version;
  return rules;
}

constexpr VersionRules kMiddleClass = {
    .version = 0x0600,
    .versionClass = 2,
    .control = ControlRule::CopyOneCountByWord4,
    .secondCopyPage = 1,
    .pageMap = PageMapRule::PairsAdjusted,
    .consoleWalksMap = true,
    .wizardWalksMap = true,
    .kind = KindRule::ByteAtOffset1,
    .pageNumber = PageNumberRule::Number24UsageWord4,
    .dataPageHeaderSize = 6,
    .slotCountReserve = 2,
    .chain = ChainRule::Pointer24Header4,
    .compressedChain = ChainRule::Pointer24Header4Counted,
    .fragmentHeaderSize = 4,
    .variableViaPageOffset = true,
    .sortDataPages = true,
    .emptySlotConsole = EmptySlotRule::FirstWord,
    .emptySlotWizard = EmptySlotRule::FirstWord,
    .emptySlotCompressed = EmptySlotRule::UsedMarkerAt4,
    .consoleChecksPageNumber = true,
    .consoleChecksZeroHeader = false,
    .recordLength32 = false,
    .freeChain = FreeChainRule::PageAndOffset,
};

// 0x0610 differs from 0x0600 only in that the console trusts the map.
constexpr VersionRules With0610(VersionRules rules) {
  rules.version = 0x0610;
  rules.consoleChecksPageNumber = false;
  return rules;
}

// 0x0700 has no 4-byte adjustment, the wizard reads pages by number, and
// variable pages are looked up in the directory.
constexpr VersionRules With0700(VersionRules rules) {
  rules.version = 0x0700;
  rules.pageMap = PageMapRule::Pairs;
  rules.wizardWalksMap = false;
  rules.variableViaPageOffset = false;
  rules.consoleChecksPageNumber = false;
  return rules;
}

// 0x0800 and 0x0900 as the engine writes them, alike in both programs.
constexpr VersionRules kNewClass = {
    .version = 0x0800,
    .versionClass = 3,
    .control = ControlRule::ActiveCopyByWord6,
    .secondCopyPage = 0,
    .pageMap = PageMapRule::AllocationTables,
    .consoleWalksMap = false,
    .wizardWalksMap = false,
    .kind = KindRule::ByteAtOffset4NotIndex,
    .pageNumber = PageNumberRule::Number32UsageWord6,
    .dataPageHeaderSize = 8,
    .slotCountReserve = 8,
    .chain = ChainRule::Pointer32Counted,
    .compressedChain = ChainRule::Pointer32Counted,
    .fragmentHeaderSize = 6,
    .variableViaPageOffset = false,
    .sortDataPages = true,
    .emptySlotConsole = EmptySlotRule::FirstWord,
    .emptySlotWizard = EmptySlotRule::FirstWord,
    .emptySlotCompressed = EmptySlotRule::UsedMarkerAt6,
    .consoleChecksPageNumber = false,
    .consoleChecksZeroHeader = false,
    .recordLength32 = true,
    .freeChain = FreeChainRule::PageAndSlot,
    .usageBit15MarksData = true,
    .slotWords = true,
};

// 0x0950 (and -0x0950 in owner-protected files): the usage counters of
// control pages and tables are u32s at 8, page headers are 10 bytes long,
// table entries 8 bytes, and a tail may go through a table of chunks.
constexpr VersionRules With0950(VersionRules rules) {
  rules.version = 0x0950;
  rules.control = ControlRule::ActiveCopyByLong8;
  rules.pageNumber = PageNumberRule::Number32UsageWord8;
  rules.dataPageHeaderSize = 10;
  rules.slotCountReserve = 10;
  rules.fragmentCountOffset = 16;
  rules.firstFragmentOffset = 18;
  rules.tables = AllocationTableRules{.usageOffset = 8,
                                      .usage32 = true,
                                      .entriesOffset = 16,
                                      .entrySize = 8,
                                      .extentPagesPer2048 = 240,
                                      .choice = TableChoiceRule::GreatestNotAboveControl};
  rules.chunkedTails = true;
  return rules;
}

constexpr VersionRules kRows[] = {
    With0300(kOldClass),
    WithVersion(kOldClass, 0x0400),
    WithVersion(kOldClass, 0x0500),
    kMiddleClass,
    With0610(kMiddleClass),
    With0700(kMiddleClass),
    kNewClass,
    WithVersion(kNewClass, 0x0900),
    With0950(kNewClass),
};

}  // namespace

const VersionRules* FindVersionRules(uint16_t version) {
  for (const VersionRules& rules : kRows) {
    if (rules.version == version) return &rules;
  }
  return nullptr;
}

bool SameVersionClass(const VersionRules& a, const VersionRules& b) {
  return a.versionClass == b.versionClass;
}

uint32_t OldCompressedMarkerBytes(const VersionRules& rules) {
  return rules.emptySlotCompressed == EmptySlotRule::UsedByteAt4 ? 1 : 3;
}

VersionRowList InferenceVersionRows() {
  static const VersionRules* const kInference[] = {&kRows[1], &kRows[3], &kRows[6], &kRows[8]};
  return VersionRowList{kInference, sizeof kInference / sizeof kInference[0]};
}
