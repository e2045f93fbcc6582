#include "reader/version_layout.h"

#include "reader/scratch.h"

namespace {

// Deleted slots of 0x0400 and 0x0500 files hold the 4-byte pointer of the
// free-slot chain followed by zeros, so the byte scan starts at offset 4: a
// live record whose bytes from 8 on happen to be zero must not be taken for
// empty.
constexpr VersionLayout kLayouts[] = {
    // version class byte43 copy2 c2con c2wiz frag mapE  mapC   mapW   adj
    //   kind header, number rule, hdr, varViaOffset, pointer, bit15, sort,
    //   empty console, empty wizard, check number, check zero header,
    //   control rule, directory rule, slot reserve, console reads directory,
    //   empty compressed
    {0x0300, 1, false, false, 0, 0, 0, false, false, false, false,
     KindRule::Bit15AtOffset4, PageNumberRule::Number24UsageWord4, 6, true,
     PointerRule::Page24Fragment8, true, false,
     EmptySlotRule::FirstWordThenScanFrom4, EmptySlotRule::ScanFrom0, false, true,
     ControlRule::CopyOneCountByWord4, DirectoryRule::ScanByVariant, 2, false,
     EmptySlotRule::FirstWordThenScanFrom4},
    {0x0400, 1, false, false, 0, 0, 0, false, false, false, false,
     KindRule::Bit15AtOffset4, PageNumberRule::Number24UsageWord4, 6, true,
     PointerRule::Page24Fragment8, true, false,
     EmptySlotRule::ScanFrom4, EmptySlotRule::ScanFrom4, false, false,
     ControlRule::CopyOneCountByWord4, DirectoryRule::ScanByVariant, 2, false,
     EmptySlotRule::ScanFrom4},
    {0x0500, 1, false, false, 0, 0, 0, false, false, false, false,
     KindRule::Bit15AtOffset4, PageNumberRule::Number24UsageWord4, 6, true,
     PointerRule::Page24Fragment8, true, false,
     EmptySlotRule::ScanFrom4, EmptySlotRule::ScanFrom4, false, false,
     ControlRule::CopyOneCountByWord4, DirectoryRule::ScanByVariant, 2, false,
     EmptySlotRule::ScanFrom4},
    {0x0600, 2, false, true, 1, 1, 4, true, true, true, true,
     KindRule::ByteAtOffset1, PageNumberRule::Number24UsageWord4, 6, true,
     PointerRule::Page24Fragment8, false, true,
     EmptySlotRule::FirstWord, EmptySlotRule::FirstWord, true, false,
     ControlRule::CopyOneCountByWord4, DirectoryRule::ScanByVariant, 2, false,
     EmptySlotRule::FirstWord},
    {0x0610, 2, false, true, 1, 1, 4, true, true, true, true,
     KindRule::ByteAtOffset1, PageNumberRule::Number24UsageWord4, 6, true,
     PointerRule::Page24Fragment8, false, true,
     EmptySlotRule::FirstWord, EmptySlotRule::FirstWord, false, false,
     ControlRule::CopyOneCountByWord4, DirectoryRule::ScanByVariant, 2, false,
     EmptySlotRule::FirstWord},
    {0x0700, 2, false, true, 1, 1, 4, false, true, false, false,
     KindRule::ByteAtOffset1, PageNumberRule::Number24UsageWord4, 6, false,
     PointerRule::Page24Fragment8, false, true,
     EmptySlotRule::FirstWord, EmptySlotRule::FirstWord, false, false,
     ControlRule::CopyOneCountByWord4, DirectoryRule::ScanByVariant, 2, false,
     EmptySlotRule::FirstWord},
    // 0x0800 and 0x0900: read by reader/v8_layout.cc in both variants.  No
    // row here asks for the old page map, copy 2 position or 4-byte header.
    {0x0800, 3, true, true, 0, 0, 6, false, false, false, false,
     KindRule::ByteAtOffset4NotIndex, PageNumberRule::Number32UsageWord6, 8, false,
     PointerRule::Page32Fragment16, false, true,
     EmptySlotRule::FirstWord, EmptySlotRule::FirstWord, false, false,
     ControlRule::ActiveCopyByWord6, DirectoryRule::AllocationTables, 8, true,
     EmptySlotRule::UsedMarkerAt6},
    {0x0900, 3, true, true, 0, 0, 6, false, false, false, false,
     KindRule::ByteAtOffset4NotIndex, PageNumberRule::Number32UsageWord6, 8, false,
     PointerRule::Page32Fragment16, false, true,
     EmptySlotRule::FirstWord, EmptySlotRule::FirstWord, false, false,
     ControlRule::ActiveCopyByWord6, DirectoryRule::AllocationTables, 8, true,
     EmptySlotRule::UsedMarkerAt6},
};

}  // namespace

const VersionLayout* FindVersionLayout(uint16_t version) {
  for (const VersionLayout& layout : kLayouts) {
    if (layout.version == version) return &layout;
  }
  return nullptr;
}

bool UsesPageMap(const DataFile* dataFile) {
  return dataFile->variant == ReaderVariant::Console
             ? dataFile->layout->mappedConsole
             : dataFile->layout->mappedWizard;
}

EmptySlotRule EmptySlotRuleOf(const DataFile* dataFile) {
  if (dataFile->scratch != nullptr && dataFile->scratch->v8.compressed) {
    return dataFile->layout->emptySlotCompressed;
  }
  return dataFile->variant == ReaderVariant::Console
             ? dataFile->layout->emptySlotConsole
             : dataFile->layout->emptySlotWizard;
}

bool CursorReadsDirectory(const DataFile* dataFile) {
  return dataFile->variant == ReaderVariant::Wizard ||
         dataFile->layout->consoleReadsDirectory;
}
