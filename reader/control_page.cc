#include "reader/control_page.h"

#include "reader/format.h"
#include "reader/owner_protection.h"
#include "reader/v8_layout.h"

namespace {

uint16_t AbsoluteVersion(uint16_t stored) {
  const int16_t word = static_cast<int16_t>(stored);
  return static_cast<uint16_t>(word < 0 ? -static_cast<int32_t>(word) : word);
}

// A copy that the engine has written carries the signature, its kind byte
// and the page size that located it.  A copy 2 that was never written is
// zeros and never wins.
bool V8CopyIsSound(const uint8_t* copy, uint8_t pageSizeBy256) {
  return DecodeLE32(copy + kControlSignatureOffset) == kSignatureFc &&
         copy[kV8ControlKindOffset] == kV8ControlKind &&
         copy[kV8PageSizeBy256Offset] == pageSizeBy256;
}

// The usage counter of a copy, where the version keeps it.
uint32_t ControlUsage(ControlRule rule, const uint8_t* copy) {
  if (rule == ControlRule::ActiveCopyByLong8) return DecodeLE32(copy + kV95ControlUsageOffset);
  return DecodeLE16(copy + kV8ControlUsageOffset);
}

// Owner protection as the copy `current` states it; its version word lies
// at `versionOffset`.
void DecodeOwner(const uint8_t* current, size_t versionOffset, ControlInfo* info) {
  info->ownerProtected = static_cast<int16_t>(DecodeLE16(current + versionOffset)) < 0;
  info->ownerMode = info->ownerProtected ? current[kControlOwnerModeOffset] : 0;
  // The claim only: open weighs the pages before it refuses the file.
  info->encrypted = OwnerModeEncrypts(info->ownerMode);
}

// From 0x0800: every field of the copy `active`.
void DecodeV8Fields(const VersionRules& rules, const uint8_t* active, ControlInfo* info) {
  DecodeOwner(active, kV8VersionOffset, info);
  info->flags = DecodeLE16(active + kV8FlagsOffset);
  info->compressed = (info->flags & kV8FlagCompressed) != 0;
  info->variableTail = !info->compressed && (info->flags & kV8FlagVariable) != 0;
  info->systemData = (info->flags & kV8FlagSystemData) != 0 &&
                     (info->flags & kV8FlagNoSystemData) == 0;
  info->chunkedTail = info->variableTail && (info->flags & kV8FlagChunkedTail) != 0 &&
                      rules.chunkedTails;
  info->duplicatePairs = DecodeLE16(active + kV8DuplicatePairsOffset);
  info->slotLength = DecodeLE16(active + kV8SlotLengthOffset);
  info->recordCount = DecodeSwappedCount(active + kV8RecordCountOffset);
  // A compressed file keeps no record bytes in its slots; its record length
  // word is 0 and the decoded length sits at 402 (0x0950: the fixed part of
  // the decoded record; the reader counts decoded bytes and expects neither).
  info->storedRecordLength = DecodeLE16(active + kV8RecordLengthOffset);
  info->recordLength = info->compressed ? DecodeLE16(active + kV8DecodedLengthOffset)
                                        : info->storedRecordLength;
  info->slotDataOffset = static_cast<uint8_t>(
      info->compressed ? 0 : kV8SlotWordSize + (info->systemData ? kV8SystemDataSize : 0));
  info->variableLength = (info->compressed || info->variableTail) ? 1 : 0;
}

}  // namespace

ReaderStatus DecodeLayout(const uint8_t* copy1, ControlInfo* info) {
  const uint32_t signature = DecodeLE32(copy1 + kControlSignatureOffset);
  size_t versionOffset;
  if (signature == kSignaturePlain) {
    versionOffset = kControlVersionPlainOffset;
    info->slotDataOffset = 0;
  } else if (signature == kSignatureFc) {
    versionOffset = kControlVersionFcOffset;
    info->slotDataOffset = kFcSlotDataOffset;
    info->fcLayout = true;
  } else {
    return kReaderUnusable;
  }
  info->storedVersion = DecodeLE16(copy1 + versionOffset);
  info->version = AbsoluteVersion(info->storedVersion);
  return kReaderOk;
}

uint32_t OldPageSize(const uint8_t* copy1) {
  return DecodeLE16(copy1 + kControlPageSizeOffset);
}

namespace {

// Versions below 0x0800: the fields every copy but the current one's count
// comes from (copy 1).
void DecodeOldFields(const uint8_t* copy1, ControlInfo* info) {
  info->variableLength = copy1[kControlVariableFlagOffset];
  info->slotLength = DecodeLE16(copy1 + kControlSlotLengthOffset);
  info->recordLength = DecodeLE16(copy1 + kControlRecordLengthOffset);
  info->storedRecordLength = info->recordLength;
  info->pageSize = OldPageSize(copy1);
}

// ... and the count and the owner, from the current copy; the compression
// flag, from copy 1.
void DecodeOldCurrent(const uint8_t* copy1, const uint8_t* current, ControlInfo* info) {
  info->recordCount = DecodeSwappedCount(current + kControlRecordCountOffset);
  DecodeOwner(current,
              info->slotDataOffset == 0 ? kControlVersionPlainOffset : kControlVersionFcOffset,
              info);
  // A record length of 0 with the compression flag: every record is a
  // run-length stream in a fragment chain; the file gives the length of
  // its fixed part at 270.
  if (info->recordLength == 0 &&
      (DecodeLE16(copy1 + kControlFileFlagsOffset) & kFileFlagCompressed) != 0) {
    info->compressed = true;
    info->variableLength = 1;
    info->recordLength = DecodeLE16(copy1 + kControlFixedLengthOffset);
  }
}

}  // namespace

ReaderStatus DecodeOldControl(const VersionRules& rules, const uint8_t* copy1,
                              const uint8_t* copy2, ControlInfo* info) {
  DecodeOldFields(copy1, info);
  // A page must hold a page header and a map page at least one entry; a
  // slot length of zero gives no slots.  Such a control page is damaged.
  if (info->pageSize < kMinPageSize || info->slotLength == 0) return kReaderUnusable;

  // Greater counter wins; equal counters select copy 2.  A plain unsigned
  // comparison: 0xFFFF beats 0.
  const uint8_t* current = copy1;
  info->currentCopy = 1;
  if (copy2 != nullptr && DecodeLE16(copy1 + kControlCounterOffset) <=
                              DecodeLE16(copy2 + kControlCounterOffset)) {
    current = copy2;
    info->currentCopy = 2;
  }
  DecodeOldCurrent(copy1, current, info);
  if (rules.pageMap == PageMapRule::PairsAdjusted) {
    info->mapEntriesPerPage = static_cast<int32_t>((info->pageSize - 8) / 4);
  }
  return kReaderOk;
}

uint32_t V8CopyBytes(const uint8_t* copy1) {
  const uint32_t pageSize = copy1[kV8PageSizeBy256Offset] * 256u;
  const uint32_t copyBytes = V8ControlCopyBytes(pageSize);
  // The control page and table areas are whole pages; a page size that does
  // not divide them (768) is not one the format has.
  if (pageSize == 0 || copyBytes % pageSize != 0) return 0;
  return copyBytes;
}

ReaderStatus DecodeV8Control(const uint8_t* copy1, const uint8_t* copy2,
                             ControlInfo* info) {
  const uint8_t pageSizeBy256 = copy1[kV8PageSizeBy256Offset];
  info->pageSize = pageSizeBy256 * 256u;
  info->copyBytes = V8ControlCopyBytes(info->pageSize);

  // Copy 2 wins only when it is sound and its usage counter is the greater;
  // a file cut short before it, or one whose copy 2 was never written, is
  // read by copy 1.
  const ControlRule rule = FindVersionRules(info->version)->control;
  const uint8_t* active = copy1;
  info->currentCopy = 1;
  if (copy2 != nullptr && V8CopyIsSound(copy2, pageSizeBy256) &&
      (!V8CopyIsSound(copy1, pageSizeBy256) ||
       ControlUsage(rule, copy2) > ControlUsage(rule, copy1))) {
    active = copy2;
    info->currentCopy = 2;
  }
  info->usage = ControlUsage(rule, active);

  // The copies may name the version differently (0x0800 and 0xF800); the
  // active one's word counts when it is a version read by these rules.
  const uint16_t activeWord = DecodeLE16(active + kV8VersionOffset);
  const VersionRules* activeRules = FindVersionRules(AbsoluteVersion(activeWord));
  if (activeRules != nullptr && activeRules->control == rule) {
    info->storedVersion = activeWord;
    info->version = AbsoluteVersion(activeWord);
  }

  DecodeV8Fields(*FindVersionRules(info->version), active, info);

  // Not one slot fits into a page: the control page is damaged.
  const uint32_t reserve = FindVersionRules(info->version)->slotCountReserve;
  if (info->slotLength == 0 || info->slotLength > info->pageSize - reserve) {
    return kReaderUnusable;
  }
  return kReaderOk;
}

void DecodeControlCopy(const VersionRules& rules, const uint8_t* copy, ControlInfo* info) {
  if (ChoosesActiveCopy(rules.control)) {
    info->pageSize = copy[kV8PageSizeBy256Offset] * 256u;
    info->copyBytes = V8ControlCopyBytes(info->pageSize);
    info->kindMarked = copy[kV8ControlKindOffset] == kV8ControlKind;
    info->usage = ControlUsage(rules.control, copy);
    DecodeV8Fields(rules, copy, info);
    return;
  }
  DecodeOldFields(copy, info);
  DecodeOldCurrent(copy, copy, info);
  info->usage = DecodeLE16(copy + kControlCounterOffset);
}
