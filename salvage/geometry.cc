#include "salvage/geometry.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "reader/chain.h"
#include "reader/control_page.h"
#include "reader/copy_choice.h"
#include "reader/format.h"
#include "reader/owner_protection.h"
#include "reader/page_geometry.h"
#include "reader/page_header.h"
#include "reader/v8_layout.h"
#include "salvage/geometry_score.h"
#include "salvage/page_rules.h"

namespace {

// Bytes of a control page copy that hold every field used here.
constexpr uint32_t kCopyBytes = kV8ControlBytes;
// Bytes the oldest versions' copy must have at least.
constexpr uint32_t kMinCopyBytes = kControlBytesConsole;
// How much of the file inference looks at, and how much a check of one
// control copy against the pages.
constexpr uint32_t kSampleBytes = 16u << 20;
constexpr uint32_t kCheckBytes = 2u << 20;
// A copy disagrees with the pages when another (row, page size) finds at
// least this many headers and kDisagreeFactor times the copy's evidence.
constexpr uint32_t kDisagreeHeaders = 4;
constexpr double kDisagreeFactor = 2.0;
// The slot spacing is ambiguous when a length that is no multiple of the
// one chosen scores this share of its score.
constexpr double kSlotAmbiguous = 0.97;
// Below this spacing score the records show no structure at the length
// found (one slot a page, or noise): no slot length is taken.  By equal
// bytes, and by recurring changes, which are rarer.
constexpr double kMinSlotScore = 0.05;
constexpr double kMinChangesScore = 0.02;
// A copy's slot length is contradicted by a spacing that scores this many
// times as well.
constexpr double kOtherSlotFactor = 2.0;
// A slot that keeps this many bytes or fewer besides its duplicate pointers
// holds a compressed record's pointer and used mark, not a record.
constexpr uint32_t kMaxTinyRecord = 7;
// Variable pointer behind the fixed part, versions below 0x0800.
constexpr uint32_t kOldPointerBytes = 4;

// What to give when the pages do not tell the geometry.
constexpr const char* kGiveOptions = "give --page-size, --record-length and --version";

std::string Format(const char* format, unsigned value) {
  char text[96];
  snprintf(text, sizeof text, format, value);
  return text;
}

std::string Format2(const char* format, unsigned a, unsigned b) {
  char text[160];
  snprintf(text, sizeof text, format, a, b);
  return text;
}

// Where a row keeps control page copy 2 at page size `pageSize`: one page
// in (0x0600-0x0700), at F (0x0800 on), or nowhere (-1).
int64_t SecondCopyOffset(const VersionRules& layout, uint32_t pageSize) {
  if (ChoosesActiveCopy(layout.control)) return V8ControlCopyBytes(pageSize);
  if (layout.secondCopyPage != 0) return static_cast<int64_t>(pageSize) * layout.secondCopyPage;
  return -1;
}

// Bytes of a page that slots cannot use, as the copy checks count them: the
// page header from 0x0800 (8 bytes, also for 0x0950's 10), the row's
// reserve before.
uint32_t SlotReserve(const VersionRules& layout) {
  return ChoosesActiveCopy(layout.control) ? kV8PageHeaderSize : layout.slotCountReserve;
}

// The bytes a slot must hold at least: the record (a
// compressed record's pointer and used marker), the slot word and system
// data from 0x0800, the tail pointer, the duplicate pointer pairs.
uint32_t NeededSlotBytes(const VersionRules& layout, const ControlCopy& copy) {
  if (ChoosesActiveCopy(layout.control)) {
    const uint32_t system = copy.systemData ? kV8SystemDataSize : 0;
    const uint32_t needed =
        copy.compressed ? kV8UsedMarkerOffset + kV8UsedMarkerSize + system
                        : kV8SlotWordSize + system + copy.recordLength +
                              (copy.variable ? kV8PointerSize : 0);
    return needed + 8u * copy.duplicatePairs;
  }
  // An old compressed slot holds the pointer and a used marker.
  if (copy.compressed) return kOldPointerBytes + OldCompressedMarkerBytes(layout);
  return (copy.fcLayout ? kFcSlotDataOffset : 0) + copy.recordLength +
         (copy.variable ? kOldPointerBytes : 0);
}

// The fields of one copy as the reader decodes a copy alone
// (reader/control_page.h).
void TakeFields(const ControlInfo& info, ControlCopy* copy) {
  copy->fcLayout = info.fcLayout;
  copy->version = info.version;
  copy->pageSize = info.pageSize;
  copy->counter = info.usage;
  copy->recordLength = info.recordLength;
  copy->slotLength = info.slotLength;
  copy->recordCount = info.recordCount;
  copy->compressed = info.compressed;
  copy->variable = !info.compressed && info.variableLength != 0;
  copy->systemData = info.systemData;
  copy->duplicatePairs = info.duplicatePairs;
  copy->chunkedTails = info.chunkedTail;
  // An owner mode can claim that every page is encrypted; the pages decide
  // (DecideGeometry).
  copy->encrypted = info.encrypted;
}

// The first check the decoded copy fails, or nothing.  `offset` is where it
// was looked for: copy 2 must lie where its own page size puts it.
std::string CopyProblem(const VersionRules& layout, const ControlInfo& info, int64_t offset,
                        int64_t fileSize, ControlCopy* copy) {
  if (ChoosesActiveCopy(layout.control) && info.compressed && info.storedRecordLength != 0) {
    // Nothing of this copy is believed: it keeps the word as stored, and no
    // owner's claim.
    copy->recordLength = info.storedRecordLength;
    copy->encrypted = false;
    return Format("record length %u in a compressed file", info.storedRecordLength);
  }
  if (!PageSizeAllowed(layout, copy->pageSize)) {
    return Format("page size %u not allowed", copy->pageSize);
  }
  if (offset != 0 && SecondCopyOffset(layout, copy->pageSize) != offset) {
    return "page size does not place the copy here";
  }
  // A record length of 0 is a file whose records are all variable tail.
  if (copy->recordLength == 0 && !copy->compressed && !copy->variable) return "record length 0";
  if (copy->slotLength < NeededSlotBytes(layout, *copy) || copy->slotLength == 0) {
    return Format("slot length %u shorter than the record", copy->slotLength);
  }
  const uint32_t reserve = SlotReserve(layout);
  if (copy->slotLength > copy->pageSize - reserve) {
    return Format("slot length %u does not fit a page", copy->slotLength);
  }
  const uint64_t slots = (copy->pageSize - reserve) / copy->slotLength;
  const uint64_t pages = static_cast<uint64_t>(fileSize) / copy->pageSize;
  if (copy->recordCount > slots * pages) {
    copy->onlyCountWrong = true;
    return Format("record count %u beyond what the file holds", copy->recordCount);
  }
  return std::string();
}

// Decodes one copy and checks it.
void DecodeCopy(const uint8_t* bytes, uint32_t length, int64_t offset, int64_t fileSize,
                ControlCopy* copy) {
  *copy = ControlCopy{};
  copy->offset = offset;
  copy->read = length >= kMinCopyBytes;
  ControlInfo info;
  const VersionRules* layout = nullptr;
  if (!copy->read) {
    copy->problem = "cut short";
  } else if (DecodeLayout(bytes, &info) != kReaderOk) {
    copy->problem = "no control page signature";
  } else if ((layout = FindVersionRules(info.version)) == nullptr) {
    copy->fcLayout = info.fcLayout;
    copy->version = info.version;
    copy->versionRejected = true;
    copy->problem = Format("version word 0x%04x not accepted", info.storedVersion);
  } else if (ChoosesActiveCopy(layout->control) && length < kCopyBytes) {
    copy->fcLayout = info.fcLayout;
    copy->version = info.version;
    copy->problem = "cut short";
  } else {
    DecodeControlCopy(*layout, bytes, &info);
    if (ChoosesActiveCopy(layout->control) && !info.kindMarked) {
      copy->fcLayout = info.fcLayout;
      copy->version = info.version;
      copy->problem = "kind byte is not 'C'";
      return;
    }
    TakeFields(info, copy);
    copy->problem = CopyProblem(*layout, info, offset, fileSize, copy);
    copy->sound = copy->problem.empty();
  }
}

bool ReadCopy(InputFile* input, int64_t offset, ControlCopy* copy) {
  uint8_t bytes[kCopyBytes] = {};
  const uint32_t got = ReadInputAt(input, offset, bytes, kCopyBytes);
  DecodeCopy(bytes, got, offset, input->size, copy);
  return copy->sound;
}

// Every place a copy 2 may lie: where each allowed page size of a row that
// keeps one puts it, `first` (when above 0) before the others.
std::vector<int64_t> SecondCopyPlaces(int64_t first) {
  std::vector<int64_t> offsets;
  if (first > 0) offsets.push_back(first);
  const VersionRowList rows = InferenceVersionRows();
  for (uint32_t ps = 512; ps <= 16384; ps += 512) {
    for (uint32_t r = 0; r < rows.count; ++r) {
      const int64_t at = PageSizeAllowed(*rows.rows[r], ps)
                             ? SecondCopyOffset(*rows.rows[r], ps) : -1;
      if (at > 0 && std::find(offsets.begin(), offsets.end(), at) == offsets.end()) {
        offsets.push_back(at);
      }
    }
  }
  return offsets;
}

// Looks for a sound copy 2 at every place one may lie, `first` first.  A
// damaged copy 1 may still say where copy 2 is, but is never trusted alone.
void FindSecondCopy(InputFile* input, int64_t first, ControlCopy* copy) {
  const std::vector<int64_t> places = SecondCopyPlaces(first);
  for (size_t i = 0; i < places.size(); ++i) {
    ControlCopy candidate;
    if (ReadCopy(input, places[i], &candidate) || i == 0) *copy = candidate;
    // Nothing sound: the first place looked at stays, so the report shows why.
    if (candidate.sound) return;
  }
}

// Where copy 1 (or the command line) says copy 2 lies; -1 when it cannot.
int64_t PredictedSecondCopy(const ControlCopy& copy1, const GeometryOverrides& overrides) {
  const VersionRules* layout = FindVersionRules(overrides.version != 0 ? overrides.version
                                                                      : copy1.version);
  if (layout == nullptr) return -1;
  const uint32_t ps = overrides.pageSize != 0 ? overrides.pageSize : copy1.pageSize;
  return PageSizeAllowed(*layout, ps) ? SecondCopyOffset(*layout, ps) : -1;
}

// Copy 1, then copy 2 wherever it is.  A version that keeps no copy 2 and
// whose copy 1 is sound shows none, unless one was found.
void ReadControlCopies(InputFile* input, const GeometryOverrides& overrides, Geometry* g) {
  ControlCopy& copy1 = g->copies[0];
  ReadCopy(input, 0, &copy1);
  const int64_t predicted = PredictedSecondCopy(copy1, overrides);
  FindSecondCopy(input, predicted, &g->copies[1]);
  if (!g->copies[1].sound && copy1.sound && predicted < 0) g->copies[1] = ControlCopy{};
}

bool SameClassAndSize(const ControlCopy& a, const ControlCopy& b) {
  return SameVersionClass(*FindVersionRules(a.version), *FindVersionRules(b.version)) &&
         a.pageSize == b.pageSize;
}

// Two sound copies that disagree on the version class or the page size (a
// field damaged into another allowed value): the pages decide.
void CrossCheckCopies(InputFile* input, PageSample* sample, Geometry* g) {
  ControlCopy& copy1 = g->copies[0];
  ControlCopy& copy2 = g->copies[1];
  if (!copy1.sound || !copy2.sound || SameClassAndSize(copy1, copy2)) return;
  LoadPageSample(input, kCheckBytes, sample);
  const double score1 =
      ScoreHeaders(*sample, *FindVersionRules(copy1.version), copy1.pageSize).score;
  const double score2 =
      ScoreHeaders(*sample, *FindVersionRules(copy2.version), copy2.pageSize).score;
  ControlCopy& loser = score2 > score1 ? copy1 : copy2;
  loser.sound = false;
  loser.problem = Format2("version 0x%04x with page size %u does not fit the data pages",
                          loser.version, loser.pageSize);
}

// A copy that no other sound copy confirms is checked against the pages:
// when another version class or page size explains them far better, the
// copy's own values are damaged.
bool CopyFitsPages(InputFile* input, PageSample* sample, ControlCopy* copy) {
  const VersionRules& layout = *FindVersionRules(copy->version);
  LoadPageSample(input, kCheckBytes, sample);
  const GeometryCandidate own = ScoreHeaders(*sample, layout, copy->pageSize);
  GeometryCandidate best;
  GeometryCandidate runnerUp;
  RankHeaderCandidates(*sample, nullptr, 0, &best, &runnerUp);
  if (best.layout == nullptr || best.headers < kDisagreeHeaders ||
      best.score < own.score * kDisagreeFactor) {
    return true;
  }
  if (SameVersionClass(*best.layout, layout) && best.pageSize == copy->pageSize) {
    return true;
  }
  copy->sound = false;
  copy->problem = Format2("version 0x%04x with page size %u does not fit the data pages",
                          copy->version, copy->pageSize);
  return false;
}

// The copy whose values are taken: the sound one, of two the one written
// last (the row's tie rule on equal counters), else one whose only fault is
// its record count.
// Returns 1 or 2, or 0 when no copy can be taken.
int ChooseCopy(const Geometry& g) {
  const ControlCopy& copy1 = g.copies[0];
  const ControlCopy& copy2 = g.copies[1];
  if (copy1.sound && copy2.sound) {
    return ChooseControlCopyOnCounters(*FindVersionRules(copy1.version), copy1.counter,
                                       copy2.counter);
  }
  if (copy1.sound) return 1;
  if (copy2.sound) return 2;
  int chosen = 0;
  for (int c = 0; c < 2; ++c) {
    if (g.copies[c].onlyCountWrong &&
        (chosen == 0 || g.copies[c].counter > g.copies[chosen - 1].counter)) {
      chosen = c + 1;
    }
  }
  return chosen;
}

void Unusable(Geometry* g, const std::string& why) {
  g->usable = false;
  g->problem = why;
}

std::string CandidateText(const GeometryCandidate& c) {
  if (c.layout == nullptr) return "none";
  char text[160];
  snprintf(text, sizeof text, "version 0x%04x page size %u (headers on %u of %u pages)",
           c.layout->version, c.pageSize, c.headers, c.pages);
  return text;
}

// Version and page size the pages explain best, where neither the command
// line nor a copy gives them.  False (geometry unusable) when no candidate
// is clearly best.
bool InferVersionAndPageSize(InputFile* input, PageSample* sample, Geometry* g) {
  LoadPageSample(input, kSampleBytes, sample);
  RankHeaderCandidates(*sample, g->layout, g->pageSize, &g->best, &g->runnerUp);
  g->inferred = true;
  if (!ClearlyBetter(g->best, g->runnerUp)) {
    Unusable(g, "no geometry explains the pages clearly (best: " + CandidateText(g->best) +
                    "; runner-up: " + CandidateText(g->runnerUp) + "); " + kGiveOptions);
    return false;
  }
  if (g->layout == nullptr) {
    // A damaged copy may still name a version of the class found.
    uint16_t version = g->best.layout->version;
    for (const ControlCopy& c : g->copies) {
      const VersionRules* l = FindVersionRules(c.version);
      if (l != nullptr && SameVersionClass(*l, *g->best.layout)) version = c.version;
    }
    g->version = version;
    g->layout = FindVersionRules(version);
    g->versionSource = ValueSource::Inferred;
  }
  if (g->pageSize == 0) {
    g->pageSize = g->best.pageSize;
    g->pageSizeSource = ValueSource::Inferred;
  }
  return true;
}

bool DecideVersionAndPageSize(InputFile* input, PageSample* sample,
                              const GeometryOverrides& overrides, const ControlCopy* chosen,
                              ValueSource fromCopy, Geometry* g) {
  if (overrides.version != 0) {
    g->version = overrides.version;
    g->versionSource = ValueSource::CommandLine;
  } else if (chosen != nullptr) {
    g->version = chosen->version;
    g->versionSource = fromCopy;
  }
  g->layout = g->version != 0 ? FindVersionRules(g->version) : nullptr;
  if (g->version != 0 && g->layout == nullptr) {
    Unusable(g, Format("version 0x%04x not supported", g->version));
    return false;
  }
  if (overrides.pageSize != 0) {
    g->pageSize = overrides.pageSize;
    g->pageSizeSource = ValueSource::CommandLine;
  } else if (chosen != nullptr) {
    g->pageSize = chosen->pageSize;
    g->pageSizeSource = fromCopy;
  }
  if ((g->layout == nullptr || g->pageSize == 0) && !InferVersionAndPageSize(input, sample, g)) {
    return false;
  }
  if (!PageSizeAllowed(*g->layout, g->pageSize)) {
    Unusable(g, Format("page size %u not allowed", g->pageSize));
    return false;
  }
  return true;
}

// Record layout flags: from the chosen copy, else what a damaged copy 1
// whose version word is still of the class says, else the plainest one.
void DecideRecordLayout(const ControlCopy* chosen, Geometry* g) {
  const ControlCopy& copy1 = g->copies[0];
  const VersionRules* copy1Layout = FindVersionRules(copy1.version);
  if (chosen != nullptr) {
    g->variable = chosen->variable;
    g->compressed = chosen->compressed;
    g->recordCount = chosen->recordCount;
    g->recordCountKnown = true;
    g->controlUsage = chosen->counter;
    g->chunkedTails = chosen->chunkedTails;
  } else if (copy1Layout != nullptr && SameVersionClass(*copy1Layout, *g->layout)) {
    g->variable = copy1.variable;
    g->compressed = copy1.compressed;
  }
  const bool fcLayout = chosen != nullptr ? chosen->fcLayout : copy1.fcLayout;
  const bool systemData = chosen != nullptr && chosen->systemData;
  if (ChoosesActiveCopy(g->layout->control)) {
    g->controlCopyBytes = V8ControlCopyBytes(g->pageSize);
    g->slotDataOffset = static_cast<uint8_t>(
        g->compressed ? 0 : kV8SlotWordSize + (systemData ? kV8SystemDataSize : 0));
  } else {
    g->slotDataOffset = fcLayout ? kFcSlotDataOffset : 0;
  }
}

uint32_t PointerBytes(const Geometry& g) {
  return !g.variable ? 0 : ChoosesActiveCopy(g.layout->control) ? kV8PointerSize : kOldPointerBytes;
}

// The slot length from the record spacing, by equal bytes, else by
// recurring changes; false (unusable) when neither finds one or another
// length is as likely.
bool InferSlot(InputFile* input, PageSample* sample, Geometry* g, GeometryCandidate* slot) {
  LoadPageSample(input, kSampleBytes, sample);
  g->inferred = true;
  std::string why;
  for (SpacingMeasure measure : {SpacingMeasure::EqualBytes, SpacingMeasure::RecurringChanges}) {
    *slot = ScoreHeaders(*sample, *g->layout, g->pageSize);
    InferSlotLength(*sample, measure, slot, &g->slotRunnerUp);
    g->best = *slot;
    const double least =
        measure == SpacingMeasure::EqualBytes ? kMinSlotScore : kMinChangesScore;
    if (slot->slotLength == 0 || slot->slotScore < least) {
      if (why.empty()) why = std::string("slot length could not be inferred; ") + kGiveOptions;
    } else if (g->slotRunnerUp.slotScore >= slot->slotScore * kSlotAmbiguous) {
      if (why.empty()) {
        why = Format2("the slot length is not clear from the pages (%u or %u bytes); ",
                      slot->slotLength, g->slotRunnerUp.slotLength) + kGiveOptions;
      }
    } else {
      return true;
    }
  }
  Unusable(g, why);
  return false;
}

// Slots that keep a pointer and a used mark (`length` bytes of record or
// fewer): the records are compressed streams.  The row's markers in every
// sampled slot, and a pointer in every used one, tell it; each stream must
// then decode whole (the record gate).  The fixed part's length is not
// known: the stream gives each record's.  False (unusable) when the slots
// do not look so.
bool TakeCompressedSlots(const PageSample& sample, uint32_t length, Geometry* g) {
  GeometryCandidate slots = ScoreHeaders(sample, *g->layout, g->pageSize);
  slots.slotLength = g->slotLength;
  if (!LooksCompressed(sample, slots)) {
    Unusable(g, Format("the slots hold %u bytes of record each, as compressed records do; ",
                       length) + kGiveOptions);
    return false;
  }
  g->compressed = true;
  g->variable = false;
  g->slotDataOffset = 0;
  g->recordLength = 0;
  g->recordLengthSource = ValueSource::Inferred;
  return true;
}

// The record length from the slot length: what the slot keeps besides the
// record (its word, the tail pointer) and the duplicate pointer pairs that
// end the used slots.  False (unusable) when the pages cannot tell whether
// the last bytes are a pair or record bytes.
bool DeriveRecordLength(InputFile* input, PageSample* sample, Geometry* g) {
  const uint32_t kept = g->slotDataOffset + PointerBytes(*g);
  if (g->slotLength < kept + 1u) {
    Unusable(g, "slot length too short for a record");
    return false;
  }
  // 0x0950 slots may carry system data and tails through chunk tables,
  // which only the control page says (its duplicate pointers did not read
  // as this code expects on the files seen): no length is derived there.
  if (g->layout->chunkedTails) {
    Unusable(g, std::string("0x0950 keeps its slot layout only in the control page; ") +
                    kGiveOptions);
    return false;
  }
  DuplicatePairs dups;
  if (!g->compressed) {
    LoadPageSample(input, kSampleBytes, sample);
    GeometryCandidate slots = ScoreHeaders(*sample, *g->layout, g->pageSize);
    slots.slotLength = g->slotLength;
    dups = CountDuplicatePairs(*sample, slots, kept + 1);
  }
  uint32_t length = g->slotLength - kept - 8u * dups.pairs;
  if (!g->compressed && !g->variable && dups.clear && length > kMaxTinyRecord) {
    // Without a control page the variable flag is lost too: a tail pointer
    // in every used slot behind the fixed part tells it.  Where every one
    // is the end mark, no record has a tail, and the bytes may as well be
    // the records' own.
    GeometryCandidate slots = ScoreHeaders(*sample, *g->layout, g->pageSize);
    slots.slotLength = g->slotLength;
    const uint32_t pointer = ChainPointerSize(g->layout->chain);
    const TailLook tail =
        LookAtTailPointers(*sample, slots, g->slotDataOffset + length - pointer);
    if (tail == TailLook::EndsOnly) {
      Unusable(g, Format2("the record length is not clear from the pages (%u bytes, or %u "
                          "with a variable tail that no record uses); ",
                          length, length - pointer) + kGiveOptions);
      return false;
    }
    if (tail == TailLook::Pointers) {
      g->variable = true;
      length -= pointer;
    }
  }
  if (!g->compressed && length <= kMaxTinyRecord) return TakeCompressedSlots(*sample, length, g);
  if (!dups.clear) {
    Unusable(g, Format2("the record length is not clear from the pages (%u bytes, or up to %u "
                        "when blank bytes at the end of the slots are record bytes); ",
                        length, length + 8u * dups.pairs) + kGiveOptions);
    return false;
  }
  g->recordLength = static_cast<uint16_t>(length);
  g->recordLengthSource = ValueSource::Derived;
  return true;
}

// Rows whose slots may use the "FC" layout: the middle class, which keeps
// copy 2 one page in.
bool MayUseFcLayout(const VersionRules& layout) { return layout.secondCopyPage != 0; }

// A record length from the command line without a control page: the slot
// is measured on the pages.  Slots two bytes longer than the record,
// starting with a small word, are "FC"; longer ones keep more behind the
// record (duplicate pointers).
void MeasureSlotOnPages(InputFile* input, PageSample* sample, bool noLayoutWord, Geometry* g) {
  LoadPageSample(input, kSampleBytes, sample);
  GeometryCandidate slot = ScoreHeaders(*sample, *g->layout, g->pageSize);
  GeometryCandidate ignored;
  InferSlotLength(*sample, SpacingMeasure::EqualBytes, &slot, &ignored);
  if (MayUseFcLayout(*g->layout) && noLayoutWord &&
      slot.slotLength == g->slotLength + kFcSlotDataOffset &&
      LooksFcLayout(*sample, slot, slot.slotLength)) {
    g->slotDataOffset = kFcSlotDataOffset;
    g->slotLength = slot.slotLength;
  } else if (slot.slotLength > g->slotLength && slot.slotScore >= kMinSlotScore) {
    g->slotLength = slot.slotLength;
    g->slotLengthSource = ValueSource::Inferred;
  }
}

// Slot length and record length: from the command line or the chosen copy,
// derived from each other, or inferred from the record spacing.
bool DecideSlotLength(InputFile* input, PageSample* sample, const GeometryOverrides& overrides,
                      const ControlCopy* chosen, ValueSource fromCopy, Geometry* g) {
  const uint32_t pointerBytes = PointerBytes(*g);
  const bool noLayoutWord = chosen == nullptr && !g->copies[0].fcLayout;
  if (overrides.recordLength >= 0) {
    g->recordLength = static_cast<uint16_t>(overrides.recordLength);
    g->recordLengthSource = ValueSource::CommandLine;
  } else if (chosen != nullptr) {
    g->recordLength = chosen->recordLength;
    g->recordLengthSource = fromCopy;
  }
  GeometryCandidate slot;
  if (chosen != nullptr &&
      (overrides.recordLength < 0 ||
       chosen->slotLength >= g->slotDataOffset + g->recordLength + pointerBytes)) {
    g->slotLength = chosen->slotLength;
    g->slotLengthSource = fromCopy;
  } else if (g->recordLengthSource == ValueSource::CommandLine) {
    g->slotLength = static_cast<uint16_t>(g->slotDataOffset + g->recordLength + pointerBytes);
    g->slotLengthSource = ValueSource::Derived;
    if (chosen == nullptr) MeasureSlotOnPages(input, sample, noLayoutWord, g);
  } else {
    if (!InferSlot(input, sample, g, &slot)) return false;
    g->slotLength = slot.slotLength;
    g->slotLengthSource = ValueSource::Inferred;
    if (MayUseFcLayout(*g->layout) && noLayoutWord && LooksFcLayout(*sample, slot, g->slotLength)) {
      g->slotDataOffset = kFcSlotDataOffset;
    }
    if (ChoosesActiveCopy(g->layout->control) && chosen == nullptr &&
        LooksCompressed(*sample, slot)) {
      g->compressed = true;
      g->variable = false;
      g->slotDataOffset = 0;
    }
  }
  if (g->recordLengthSource == ValueSource::None && !DeriveRecordLength(input, sample, g)) {
    return false;
  }
  if (g->slotLength == 0 || g->slotLength > g->pageSize - g->layout->slotCountReserve) {
    Unusable(g, Format("slot length %u does not fit a page", g->slotLength));
    return false;
  }
  return true;
}

}  // namespace

const char* ValueSourceName(ValueSource source) {
  switch (source) {
    case ValueSource::None: return "none";
    case ValueSource::ControlCopy1: return "control page copy 1";
    case ValueSource::ControlCopy2: return "control page copy 2";
    case ValueSource::Inferred: return "inferred from the data pages";
    case ValueSource::CommandLine: return "command line";
    case ValueSource::Derived: return "derived from the other values";
  }
  return "unknown";
}

namespace {

// The pages after the control pages of a file whose copy claims encrypted
// pages, weighed as the reader weighs them at open: noise does not carry the
// page numbers and kinds of the copy's geometry.
bool OwnerPagesInClear(InputFile* input, const ControlCopy& copy) {
  const VersionRules* rules = FindVersionRules(copy.version);
  if (rules == nullptr || copy.pageSize == 0) return false;
  const int64_t pageCount = input->size / copy.pageSize;
  ClearPageEvidence evidence;
  const uint64_t first = FirstPageAfterControl(*rules);
  for (uint64_t p = first; p < first + kOwnerSamplePages; ++p) {
    uint8_t header[kPageHeaderBytes];
    if (ReadInputAt(input, static_cast<int64_t>(p * copy.pageSize), header, sizeof header) !=
        sizeof header) {
      break;
    }
    WeighPageHeader(*rules, header, p, pageCount, &evidence);
  }
  return PagesInClear(evidence);
}

// Whether the record spacing on the pages clearly says a slot length other
// than `slotLength`: one found, not ambiguous, above noise, and scoring
// kOtherSlotFactor times what `slotLength` scores.
bool PagesSayOtherSlot(const PageSample& sample, const Geometry& g, uint16_t slotLength) {
  GeometryCandidate slot = ScoreHeaders(sample, *g.layout, g.pageSize);
  GeometryCandidate runnerUp;
  InferSlotLength(sample, SpacingMeasure::EqualBytes, &slot, &runnerUp);
  if (slot.slotLength == 0 || slot.slotLength == slotLength || slot.slotScore < kMinSlotScore ||
      runnerUp.slotScore >= slot.slotScore * kSlotAmbiguous) {
    return false;
  }
  return slot.slotScore >= kOtherSlotFactor * SlotSpacingScore(sample, slot, slotLength);
}

// A copy whose version word alone was not accepted still holds the other
// values, the ones the pages cannot always tell (the record length where
// blank pointers end the slots, a slot length on a page of few records).
// Read again as the version the pages gave, they are taken when they pass
// every check a copy must pass, the page size is the one the pages show,
// and the record spacing does not clearly say another slot length.  The
// copy stays unsound in the report, its problem saying what was taken.
// Returns 1 or 2 for the copy taken, or 0.
int ReviveCopy(InputFile* input, PageSample* sample, Geometry* g) {
  int taken = 0;
  ControlCopy revived[2];
  for (int c = 0; c < 2; ++c) {
    const ControlCopy& copy = g->copies[c];
    if (!copy.versionRejected || !copy.read) continue;
    uint8_t bytes[kCopyBytes] = {};
    const uint32_t got = ReadInputAt(input, copy.offset, bytes, kCopyBytes);
    ControlInfo info;
    if (got < kMinCopyBytes || DecodeLayout(bytes, &info) != kReaderOk) continue;
    if (ChoosesActiveCopy(g->layout->control) && got < kCopyBytes) continue;
    DecodeControlCopy(*g->layout, bytes, &info);
    if (ChoosesActiveCopy(g->layout->control) && !info.kindMarked) continue;
    ControlCopy& r = revived[c];
    r = copy;
    TakeFields(info, &r);
    r.version = g->version;
    if (!CopyProblem(*g->layout, info, copy.offset, input->size, &r).empty() ||
        r.pageSize != g->pageSize || r.encrypted) {
      continue;
    }
    LoadPageSample(input, kSampleBytes, sample);
    if (PagesSayOtherSlot(*sample, *g, r.slotLength)) continue;
    taken = taken == 0 ? c + 1
                       : ChooseControlCopyOnCounters(*g->layout, revived[0].counter,
                                                     revived[1].counter);
  }
  if (taken == 0) return 0;
  ControlCopy& copy = g->copies[taken - 1];
  const std::string problem = copy.problem;
  copy = revived[taken - 1];
  copy.problem = problem + Format("; its other values, read as version 0x%04x, fit the pages "
                                  "and are taken",
                                  g->version);
  return taken;
}

}  // namespace

void DecideGeometry(InputFile* input, const GeometryOverrides& overrides, Geometry* g) {
  *g = Geometry{};
  PageSample sample;
  ReadControlCopies(input, overrides, g);
  CrossCheckCopies(input, &sample, g);
  g->chosenCopy = ChooseCopy(*g);
  // A copy that stands alone, with neither the other copy nor the command
  // line to confirm its version and page size, has to fit the pages.
  if (g->chosenCopy != 0 && overrides.version == 0 && overrides.pageSize == 0) {
    ControlCopy& copy = g->copies[g->chosenCopy - 1];
    const ControlCopy& other = g->copies[2 - g->chosenCopy];
    const bool confirmed = other.sound && SameClassAndSize(copy, other);
    if (!confirmed && !CopyFitsPages(input, &sample, &copy)) g->chosenCopy = ChooseCopy(*g);
  }
  const ControlCopy* chosen = g->chosenCopy == 0 ? nullptr : &g->copies[g->chosenCopy - 1];
  ValueSource fromCopy =
      g->chosenCopy == 1 ? ValueSource::ControlCopy1 : ValueSource::ControlCopy2;
  if (chosen != nullptr && chosen->encrypted && !OwnerPagesInClear(input, *chosen)) {
    return Unusable(g, "the file is encrypted with an owner name and cannot be read without the engine");
  }
  if (!DecideVersionAndPageSize(input, &sample, overrides, chosen, fromCopy, g)) return;
  if (chosen == nullptr && (g->chosenCopy = ReviveCopy(input, &sample, g)) != 0) {
    chosen = &g->copies[g->chosenCopy - 1];
    fromCopy = g->chosenCopy == 1 ? ValueSource::ControlCopy1 : ValueSource::ControlCopy2;
  }
  DecideRecordLayout(chosen, g);
  if (!DecideSlotLength(input, &sample, overrides, chosen, fromCopy, g)) return;
  g->usable = true;
}
