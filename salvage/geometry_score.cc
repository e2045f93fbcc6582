#include "salvage/geometry_score.h"

#include <algorithm>

#include "reader/chain.h"
#include "reader/format.h"
#include "reader/page_geometry.h"
#include "reader/slots.h"
#include "reader/v8_layout.h"
#include "salvage/page_rules.h"

namespace {

// The slot spacing is measured on this many data pages; slots longer than
// kMaxInferredSlot are not looked for.
constexpr uint32_t kSpacingPages = 16;
constexpr uint32_t kMaxInferredSlot = 2048;
// The smallest length whose spacing score reaches this share of the best
// one is the slot length: whole multiples of it score as well.
constexpr double kSlotShare = 0.85;
// The spacings tried, best first, for a slot length whose slot words fit.
constexpr size_t kSpacingsTried = 256;
// See MultiplesHold.
constexpr double kMultipleShare = 0.6;
// Noise has a plausible header now and then: the pattern has to hold on
// one sampled page in kEvidenceShare at least.
constexpr uint64_t kEvidenceShare = 200;
// The best candidate needs this much more evidence than the runner-up.
constexpr double kClearMargin = 1.5;

// Rows whose slots start with a slot word (0 free, small when used): the
// new class, whose data pages are mapped through allocation tables.
bool HasSlotWords(const VersionRules& layout) {
  return layout.pageMap == PageMapRule::AllocationTables;
}

uint64_t LogicalBoundAt(const PageSample& sample, uint32_t pageSize) {
  return LogicalBound(sample.fileSize / pageSize);
}

// The sampled pages that `c` takes for data pages, at most `maxPages`.
std::vector<const uint8_t*> SampledDataPages(const PageSample& sample,
                                             const GeometryCandidate& c, uint32_t maxPages) {
  std::vector<const uint8_t*> pages;
  const uint64_t count = sample.bytes.size() / c.pageSize;
  for (uint64_t p = 1; p < count && pages.size() < maxPages; ++p) {
    const uint8_t* page = sample.bytes.data() + p * c.pageSize;
    if (ClassifyPageHeader(*c.layout, page, p, LogicalBoundAt(sample, c.pageSize)).kind ==
        HeaderKind::Data) {
      pages.push_back(page);
    }
  }
  return pages;
}

// Calls `visit(page, slot)` for every slot of every sampled data page of
// `c` (at most `maxPages` pages) with slot length `slotLength`; stops early,
// with false, as soon as `visit` returns false.
template <typename Visit>
bool ForEachSampledSlot(const PageSample& sample, const GeometryCandidate& c,
                        uint16_t slotLength, uint32_t maxPages, Visit visit) {
  const uint32_t slots = (c.pageSize - c.layout->slotCountReserve) / slotLength;
  for (const uint8_t* page : SampledDataPages(sample, c, maxPages)) {
    for (uint32_t i = 0; i < slots; ++i) {
      if (!visit(page, page + c.layout->dataPageHeaderSize + i * slotLength)) return false;
    }
  }
  return true;
}

// Share of the sampled data pages' byte positions whose byte is non-zero
// and equal to the byte `length` further on.
double EqualBytesScore(const std::vector<const uint8_t*>& pages, uint32_t header,
                       uint32_t pageSize, uint32_t length) {
  uint64_t equal = 0;
  uint64_t positions = 0;
  for (const uint8_t* page : pages) {
    for (uint32_t i = header; i + length < pageSize; ++i) {
      equal += page[i] != 0 && page[i] == page[i + length];
    }
    positions += pageSize - header - length;
  }
  return positions == 0 ? 0 : static_cast<double>(equal) / positions;
}

// True when the spacing scores at 2, 3 and 4 times `slot` (those that a
// page of `room` bytes holds two slots apart or more) keep at least
// kMultipleShare of what the slot pairs at that distance would give: with
// n slots on a page, (n - k) pairs of slots lie k slots apart against
// (n - 1) one apart.
bool MultiplesHold(const std::vector<double>& score, uint32_t slot, uint32_t room) {
  const uint32_t slots = room / slot;
  for (uint32_t k = 2; k <= 4 && k < slots && k * slot < score.size(); ++k) {
    const double expected = score[slot] * (slots - k) / (slots - 1);
    if (score[k * slot] < expected * kMultipleShare) return false;
  }
  return true;
}

}  // namespace

double RecurringChangesScore(const std::vector<const uint8_t*>& pages, uint32_t header,
                             uint32_t pageSize, uint32_t length) {
  uint64_t recurring = 0;
  uint64_t changes = 0;
  for (const uint8_t* page : pages) {
    for (uint32_t i = header + 1; i + length < pageSize; ++i) {
      if (page[i] == page[i - 1]) continue;
      ++changes;
      recurring += page[i] == page[i + length] && page[i - 1] == page[i - 1 + length];
    }
  }
  return changes == 0 ? 0 : static_cast<double>(recurring) / changes;
}

// Every sampled slot of a slot-word row starts as the engine writes it: a
// word with a zero high byte, or (compressed) a used or free marker at 6.
bool SlotWordsFit(const PageSample& sample, const GeometryCandidate& c, uint16_t length) {
  if (!HasSlotWords(*c.layout)) return true;
  bool words = true;
  bool markers = true;
  ForEachSampledSlot(sample, c, length, kSpacingPages,
                     [&](const uint8_t* page, const uint8_t* slot) {
                       if (slot + kV8UsedMarkerOffset + 3 > page + c.pageSize) return true;
                       const uint8_t* m = slot + kV8UsedMarkerOffset;
                       words = words && slot[1] == 0;
                       markers = markers && m[0] <= 1 && m[1] <= 2 && m[2] == 0;
                       return words || markers;
                     });
  return words || markers;
}

enum class PointerLook : uint8_t { Blank, Slot, Other };

// What the 8 bytes at slot offset `at` hold over every used sampled slot:
// Other when a word in one of them is no pointer, else Slot when a word
// points at a slot, else Blank (every word 0xFFFFFFFF).  Zero words are
// what a free slot that the empty-slot rule takes for used keeps there;
// where every word of the group is zero, no slot shows a pair at all and
// the zeros are record bytes (Other).
PointerLook LookAtGroup(const PageSample& sample, const GeometryCandidate& c, uint32_t at) {
  const EmptySlotRule rule = c.layout->emptySlotConsole;
  const uint32_t slots = (c.pageSize - c.layout->slotCountReserve) / c.slotLength;
  bool other = false, slot = false, none = false;
  ForEachSampledSlot(sample, c, c.slotLength, kSpacingPages,
                     [&](const uint8_t* page, const uint8_t* bytes) {
                       const uint32_t offset = static_cast<uint32_t>(bytes - page);
                       if (offset + c.slotLength > c.pageSize ||
                           SlotIsEmpty(rule, page, c.pageSize, offset, c.slotLength)) {
                         return true;
                       }
                       for (uint32_t half = 0; half < 8; half += 4) {
                         switch (LookAtDuplicatePointer(*c.layout, bytes + at + half, c.pageSize,
                                                        c.slotLength, slots, sample.fileSize)) {
                           case DuplicatePointer::None: none = true; break;
                           case DuplicatePointer::Slot: slot = true; break;
                           case DuplicatePointer::Zero: break;
                           case DuplicatePointer::Other: other = true; break;
                         }
                       }
                       return !other;
                     });
  if (other || (!slot && !none)) return PointerLook::Other;
  return slot ? PointerLook::Slot : PointerLook::Blank;
}

DuplicatePairs CountDuplicatePairs(const PageSample& sample, const GeometryCandidate& c,
                                   uint32_t keptBytes) {
  // The pairs run from the slot's end to the first group that holds
  // record bytes; the innermost pair must show a pointer, else blank
  // record bytes and a pair of empty pointers cannot be told apart.
  DuplicatePairs result;
  PointerLook inner = PointerLook::Other;
  while (keptBytes + 8u * (result.pairs + 1) <= c.slotLength) {
    const PointerLook look = LookAtGroup(sample, c, c.slotLength - 8u * (result.pairs + 1));
    if (look == PointerLook::Other) break;
    inner = look;
    ++result.pairs;
  }
  result.clear = result.pairs == 0 || inner == PointerLook::Slot;
  return result;
}

TailLook LookAtTailPointers(const PageSample& sample, const GeometryCandidate& c, uint32_t at) {
  const uint32_t size = ChainPointerSize(c.layout->chain);
  const EmptySlotRule rule = c.layout->emptySlotConsole;
  uint64_t named = 0;
  uint64_t ends = 0;
  const bool all = ForEachSampledSlot(
      sample, c, c.slotLength, kSpacingPages, [&](const uint8_t* page, const uint8_t* slot) {
        const uint32_t offset = static_cast<uint32_t>(slot - page);
        if (offset + c.slotLength > c.pageSize || at + size > c.slotLength ||
            SlotIsEmpty(rule, page, c.pageSize, offset, c.slotLength)) {
          return true;
        }
        const ChainPointer pointer = DecodeChainPointer(c.layout->chain, slot + at);
        if (pointer.end) {
          ++ends;
          return true;
        }
        ++named;
        return pointer.page > 0 &&
               static_cast<uint64_t>(pointer.page) < LogicalBoundAt(sample, c.pageSize) &&
               pointer.fragment < c.pageSize / 4;
      });
  if (!all) return TailLook::Other;
  return named > 0 ? TailLook::Pointers : ends > 0 ? TailLook::EndsOnly : TailLook::Other;
}

void LoadPageSample(InputFile* input, uint32_t bytes, PageSample* sample) {
  const int64_t n = input->size < bytes ? input->size : bytes;
  sample->fileSize = input->size;
  if (sample->bytes.size() >= static_cast<size_t>(n)) return;
  sample->bytes.resize(static_cast<size_t>(n));
  sample->bytes.resize(ReadInputAt(input, 0, sample->bytes.data(), static_cast<uint32_t>(n)));
}

GeometryCandidate ScoreHeaders(const PageSample& sample, const VersionRules& layout,
                               uint32_t pageSize) {
  GeometryCandidate c;
  c.layout = &layout;
  c.pageSize = pageSize;
  const uint64_t pages = sample.bytes.size() / pageSize;
  const uint64_t bound = LogicalBoundAt(sample, pageSize);
  for (uint64_t p = 1; p < pages; ++p) {
    const PageHeaderInfo info =
        ClassifyPageHeader(layout, sample.bytes.data() + p * pageSize, p, bound);
    c.headers += info.kind != HeaderKind::Other;
  }
  c.pages = pages > 1 ? static_cast<uint32_t>(pages - 1) : 0;
  c.score = c.pages == 0 ? 0 : static_cast<double>(c.headers) * c.headers / c.pages;
  return c;
}

void RankHeaderCandidates(const PageSample& sample, const VersionRules* onlyClassOf,
                          uint32_t pageSize, GeometryCandidate* best,
                          GeometryCandidate* runnerUp) {
  *best = GeometryCandidate{};
  *runnerUp = GeometryCandidate{};
  const VersionRowList rows = InferenceVersionRows();
  for (uint32_t r = 0; r < rows.count; ++r) {
    const VersionRules& row = *rows.rows[r];
    if (onlyClassOf != nullptr && !SameVersionClass(row, *onlyClassOf)) continue;
    for (uint32_t ps = 512; ps <= 16384; ps += 512) {
      if ((pageSize != 0 && ps != pageSize) || !PageSizeAllowed(row, ps)) continue;
      const GeometryCandidate c = ScoreHeaders(sample, row, ps);
      if (c.score > best->score) {
        *runnerUp = *best;
        *best = c;
      } else if (c.score > runnerUp->score) {
        *runnerUp = c;
      }
    }
  }
}

bool ClearlyBetter(const GeometryCandidate& best, const GeometryCandidate& runnerUp) {
  if (best.layout == nullptr || best.headers == 0) return false;
  // One header is enough when nothing else explains any page at all.
  if (best.headers < kMinEvidencePages && runnerUp.headers > 0) return false;
  if (static_cast<uint64_t>(best.headers) * kEvidenceShare < best.pages) return false;
  return best.score >= runnerUp.score * kClearMargin;
}

double SlotSpacingScore(const PageSample& sample, const GeometryCandidate& c, uint32_t length) {
  return EqualBytesScore(SampledDataPages(sample, c, kSpacingPages),
                         c.layout->dataPageHeaderSize, c.pageSize, length);
}

void InferSlotLength(const PageSample& sample, SpacingMeasure measure, GeometryCandidate* c,
                     GeometryCandidate* runnerUp) {
  c->slotLength = 0;
  c->slotScore = 0;
  *runnerUp = *c;
  const VersionRules& rules = *c->layout;
  const uint32_t header = rules.dataPageHeaderSize;
  const std::vector<const uint8_t*> pages = SampledDataPages(sample, *c, kSpacingPages);
  if (pages.empty()) return;
  const uint32_t room = c->pageSize - rules.slotCountReserve;
  const uint32_t maxSlot = room < kMaxInferredSlot ? room : kMaxInferredSlot;
  std::vector<double> score(maxSlot + 1, 0.0);
  double best = 0;
  for (uint32_t length = 4; length <= maxSlot && header + length < c->pageSize; ++length) {
    score[length] = measure == SpacingMeasure::EqualBytes
                        ? EqualBytesScore(pages, header, c->pageSize, length)
                        : RecurringChangesScore(pages, header, c->pageSize, length);
    if (score[length] > best) best = score[length];
  }
  if (best <= 0) return;
  // The best spacing is the slot length or a multiple of it: the smallest
  // divisor that scores nearly as well, stands out from the spacings beside
  // it (and whose slot words fit) is taken.  A shorter spacing that divides
  // no good one is a field repeating within the record, not the slot; one
  // that scores no better than its neighbours is filler (records padded
  // with spaces score alike at every short spacing).
  auto peak = [&](uint32_t length) {
    return length > 4 && length < maxSlot && score[length] > score[length - 1] &&
           score[length] > score[length + 1];
  };
  // The spacings from the best down (the longest first among equals);
  // where slot words refuse every divisor of one, the next best is tried.
  std::vector<uint32_t> tops;
  for (uint32_t length = 4; length <= maxSlot; ++length) {
    if (score[length] > 0) tops.push_back(length);
  }
  std::sort(tops.begin(), tops.end(), [&](uint32_t a, uint32_t b) {
    return score[a] > score[b] || (score[a] == score[b] && a > b);
  });
  if (tops.size() > kSpacingsTried) tops.resize(kSpacingsTried);
  for (uint32_t top : tops) {
    for (uint32_t length = 4; length <= top && c->slotLength == 0; ++length) {
      if (top % length == 0 && score[length] >= score[top] * kSlotShare &&
          (length == top || peak(length)) &&
          SlotWordsFit(sample, *c, static_cast<uint16_t>(length))) {
        c->slotLength = static_cast<uint16_t>(length);
        c->slotScore = score[length];
      }
    }
    if (c->slotLength != 0) break;
  }
  // Changes recur within a record more readily than equal bytes.  One
  // page of records is too little to tell the slot from a field there; and
  // a spacing that repeats only within a record (an array of equal
  // entries) fades at its multiples, where slots repeat at every multiple
  // a page holds, about as often as the slot pairs at that distance allow.
  if (c->slotLength != 0 && measure == SpacingMeasure::RecurringChanges &&
      (pages.size() < 2 || !MultiplesHold(score, c->slotLength, room))) {
    c->slotLength = 0;
    c->slotScore = 0;
    return;
  }
  for (uint32_t length = 4; length <= maxSlot && c->slotLength != 0; ++length) {
    const bool related = length % c->slotLength == 0 || c->slotLength % length == 0;
    if (!related && peak(length) && score[length] > runnerUp->slotScore) {
      runnerUp->slotLength = static_cast<uint16_t>(length);
      runnerUp->slotScore = score[length];
    }
  }
}

namespace {

// How a compressed slot of the row says used or free: the marker's place
// and the values the engine writes there (0x0800: 01 01 00; 0x0600:
// 01 0x 00 with x from 1 to 4; before 0x0600 one byte, 01).  Free is all
// zero.
enum class MarkLook : uint8_t { Free, Used, Other };

MarkLook LookAtMarker(EmptySlotRule rule, const uint8_t* slot) {
  if (rule == EmptySlotRule::UsedByteAt4) {
    return slot[4] == 0 ? MarkLook::Free : slot[4] == 1 ? MarkLook::Used : MarkLook::Other;
  }
  const uint8_t* m = slot + (rule == EmptySlotRule::UsedMarkerAt6 ? kV8UsedMarkerOffset : 4);
  if ((m[0] | m[1] | m[2]) == 0) return MarkLook::Free;
  const bool secondFits = rule == EmptySlotRule::UsedMarkerAt6 ? m[1] == 1 : m[1] >= 1 && m[1] <= 4;
  return m[0] == 1 && secondFits && m[2] == 0 ? MarkLook::Used : MarkLook::Other;
}

}  // namespace

bool LooksCompressed(const PageSample& sample, const GeometryCandidate& c) {
  const EmptySlotRule rule = c.layout->emptySlotCompressed;
  if (rule != EmptySlotRule::UsedByteAt4 && rule != EmptySlotRule::UsedMarkerAt4 &&
      rule != EmptySlotRule::UsedMarkerAt6) {
    return false;
  }
  // Before 0x0800 a marker is only a byte or two: every used slot must
  // also start with a pointer to a page the file can hold.
  const bool pointers = rule != EmptySlotRule::UsedMarkerAt6;
  const uint64_t bound = LogicalBoundAt(sample, c.pageSize);
  uint64_t used = 0;
  const bool allMarked = ForEachSampledSlot(
      sample, c, c.slotLength, UINT32_MAX, [&](const uint8_t* page, const uint8_t* slot) {
        if (slot + kV8UsedMarkerOffset + 3 > page + c.pageSize) return true;
        const MarkLook look = LookAtMarker(rule, slot);
        if (look != MarkLook::Used) return look == MarkLook::Free;
        ++used;
        if (!pointers) return true;
        const ChainPointer p = DecodeChainPointer(c.layout->compressedChain, slot);
        return !p.end && p.page > 0 && static_cast<uint64_t>(p.page) < bound &&
               p.fragment < c.pageSize / 4;
      });
  return allMarked && used > 0;
}

bool LooksFcLayout(const PageSample& sample, const GeometryCandidate& c, uint16_t slotLength) {
  uint64_t used = 0;
  uint64_t small = 0;
  ForEachSampledSlot(sample, c, slotLength, UINT32_MAX,
                     [&](const uint8_t* page, const uint8_t* slot) {
                       if (slot + 2 > page + c.pageSize || (slot[0] | slot[1]) == 0) return true;
                       ++used;
                       small += slot[1] == 0 && slot[0] < 16;
                       return true;
                     });
  return used > 0 && small * 10 >= used * 9;
}
