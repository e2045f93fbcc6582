#include "salvage/records.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "reader/compression.h"
#include "reader/v8_layout.h"
#include "reader/slots.h"
#include "salvage/chain.h"
#include "salvage/page_rules.h"
#include "salvage/zeroed_sectors.h"

namespace {

// One record from its slot into `out`: the fixed part and its tail, or the
// decoded stream.  False when its chain ended before its end.  `stream`
// keeps the decoder's end state of a compressed record.
bool TakeRecord(ChainWalker* walker, const Geometry& g, const uint8_t* slot,
                ByteSink* out, std::string* reason, RunLengthDecoder* stream) {
  RunLengthDecoder& decoder = *stream;
  decoder = RunLengthDecoder{};
  const uint8_t* pointer;
  if (g.compressed) {
    out->decoder = &decoder;
    pointer = slot;
  } else {
    SinkAppend(out, slot + g.slotDataOffset, g.recordLength);
    pointer = slot + g.slotDataOffset + g.recordLength;
  }
  if (!g.variable && !g.compressed) return true;
  const bool whole = g.chunkedTails && !g.compressed ? WalkChunkedTail(walker, pointer, out, reason)
                                                     : WalkChain(walker, pointer, out, reason);
  out->decoder = nullptr;  // the decoder lives only for this call
  return whole;
}

// Broken chains listed one by one; beyond that only counted.
constexpr size_t kMaxListedChains = 10000;

enum class Gate : uint8_t {
  Pass, TailOutsideFile, EndlessChain, BrokenChain, StreamNotExact, ZeroedSector, MovedByShift
};

// The record gate, besides the empty-slot rule that found the slot used: a
// tail pointer must name a page a file of this size can hold, and a chain
// must end (a damaged slot, or a slot read at the wrong length, points
// anywhere).  A real record's chain that lost a page ends short of its
// record: what came before is not the record either, and is held back
// too (the report still lists the chain).
Gate CheckRecord(const ChainWalker& walker, const Geometry& g, const uint8_t* slot,
                 uint64_t logicalBound) {
  if (!g.variable && !g.compressed) return Gate::Pass;
  const ChainRule rule = g.compressed ? g.layout->compressedChain : g.layout->chain;
  const uint8_t* at = g.compressed ? slot : slot + g.slotDataOffset + g.recordLength;
  const ChainPointer first = DecodeChainPointer(rule, at);
  if (!first.end && first.page > 0 && static_cast<uint64_t>(first.page) >= logicalBound) {
    return Gate::TailOutsideFile;
  }
  if (walker.lastEnd == ChainEnd::Loop || walker.lastEnd == ChainEnd::Bound) {
    return Gate::EndlessChain;
  }
  return Gate::Pass;
}

// Counts a record the gate held back and hands it to the doubtful sink.
void HoldBack(Gate gate, const uint8_t* bytes, uint32_t length, const RecordSinkFunction& sink,
              SalvageReport* report) {
  if (gate == Gate::TailOutsideFile) ++report->heldBack.tailOutsideFile;
  else if (gate == Gate::BrokenChain) ++report->heldBack.brokenChain;
  else if (gate == Gate::StreamNotExact) ++report->heldBack.streamNotExact;
  else if (gate == Gate::ZeroedSector) ++report->heldBack.zeroedSector;
  else if (gate == Gate::MovedByShift) ++report->heldBack.movedByShift;
  else ++report->heldBack.endlessChain;
  if (sink.writeDoubtful != nullptr) sink.writeDoubtful(sink.doubtfulContext, bytes, length);
}

// What the walk of one data page needs.
struct PageWalk {
  InputFile* input;
  const Geometry* g;
  const RecordSinkFunction* sink;
  SalvageReport* report;
  ChainWalker* walker;
  std::vector<uint8_t>* record;
  uint64_t logicalBound;
  // Where the page pass found headers wiped (lost sectors), or the user
  // says sectors were lost, a slot over any sector of zeros is held back;
  // elsewhere only over one whose run of zeros meets the grid.
  bool anyZeroRun;
};

// Counts a record that passed and gives it to the sinks.
void HandOut(const PageWalk& w, const uint8_t* bytes, uint32_t length, uint32_t logical) {
  ++w.report->recordsSalvaged;
  if (w.sink->write != nullptr) w.sink->write(w.sink->context, bytes, length);
  if (w.sink->writeWithPage != nullptr) {
    w.sink->writeWithPage(w.sink->context, bytes, length, logical);
  }
}

// Reads the record of one used slot; hands it out, holds it back, or
// leaves it out when it is longer than kMaxRecordBytes.
void TakeSlot(const PageWalk& w, const uint8_t* slot, uint32_t logical, int64_t slotOffset) {
  std::vector<uint8_t>& record = *w.record;
  SalvageReport* report = w.report;
  // A record longer than the area is walked once more into an area of
  // its length; only records beyond kMaxRecordBytes are left out.
  ByteSink out;
  std::string reason;
  bool whole = true;
  RunLengthDecoder stream;
  for (int attempt = 0; attempt < 2; ++attempt) {
    out = ByteSink{};
    reason.clear();
    out.destination = record.data();
    out.capacity = static_cast<uint32_t>(record.size());
    w.walker->lastEnd = ChainEnd::Running;
    whole = TakeRecord(w.walker, *w.g, slot, &out, &reason, &stream);
    if (out.length <= record.size() || out.length > kMaxRecordBytes) break;
    record.resize(static_cast<size_t>(out.length));
  }
  const uint32_t length = static_cast<uint32_t>(out.length);
  if (out.length > record.size()) {
    ++report->recordsTooLong;
    return;
  }
  Gate gate = CheckRecord(*w.walker, *w.g, slot, w.logicalBound);
  if (gate == Gate::Pass && !whole) gate = Gate::BrokenChain;
  // A stream the engine wrote ends on a whole block and holds at least the
  // fixed part; one read from a slot that holds no such record seldom does.
  if (gate == Gate::Pass && w.g->compressed &&
      (!RunLengthEndsOnBlock(stream) || out.length == 0 || out.length < w.g->recordLength)) {
    gate = Gate::StreamNotExact;
  }
  if (gate == Gate::BrokenChain && report->brokenChains.size() >= kMaxListedChains) {
    ++report->brokenNotListed;
  } else if (gate == Gate::BrokenChain) {
    // Numbered as the record it would have been.
    report->brokenChains.push_back(
        BrokenChain{report->recordsSalvaged + 1, logical, slotOffset, out.length, reason});
  }
  if (gate != Gate::Pass) return HoldBack(gate, record.data(), length, *w.sink, report);
  HandOut(w, record.data(), length, logical);
}

// A fixed-length record is the slot's bytes: handed out from the page,
// where no chain can break and no gate applies.
void TakeFixedSlot(const PageWalk& w, const uint8_t* slot, uint32_t logical) {
  HandOut(w, slot + w.g->slotDataOffset, w.g->recordLength, logical);
}

// The fixed-length records of `count` used slots in a row from `slot` on.
void TakeFixedSlots(const PageWalk& w, const uint8_t* slot, uint32_t count, uint32_t logical) {
  const Geometry& g = *w.g;
  const RecordSinkFunction& sink = *w.sink;
  if (sink.writeRun == nullptr || sink.writeWithPage != nullptr) {
    for (uint32_t i = 0; i < count; ++i) TakeFixedSlot(w, slot + i * g.slotLength, logical);
    return;
  }
  w.report->recordsSalvaged += count;
  sink.writeRun(sink.context, slot + g.slotDataOffset, g.slotLength, g.recordLength, count);
}

}  // namespace

bool SlotHoldsRecord(const Geometry& g, const uint8_t* page, uint32_t slotOffset) {
  return !SlotIsEmpty(EmptySlotRuleOf(g), page, g.pageSize, slotOffset, g.slotLength);
}

namespace {

// Slots that lie whole in the first `bytes` bytes of a page.
uint32_t SlotsWithin(const Geometry& g, uint32_t bytes) {
  const uint32_t header = g.layout->dataPageHeaderSize;
  return bytes >= g.pageSize ? SlotsPerPage(g)
         : bytes > header    ? std::min(SlotsPerPage(g), (bytes - header) / g.slotLength)
                             : 0;
}

// The slot loop of one data page, read whole into `page` (the walk's bytes
// beyond the page are zeros where its last slot reaches past it), or, for
// a page the end of the file cut, its first `bytesThere` bytes: the slots
// that lie whole in them.  The used slots that do not lie whole in the
// first `trustedBytes` are held back.
void WalkDataPage(const PageWalk& w, const uint8_t* page, uint32_t logical, int64_t offset,
                  uint32_t bytesThere, uint32_t trustedBytes) {
  const Geometry& g = *w.g;
  const uint32_t header = g.layout->dataPageHeaderSize;
  const uint32_t slots = SlotsWithin(g, bytesThere);
  const uint32_t trusted = SlotsWithin(g, trustedBytes);
  const bool fixedOnly = !g.variable && !g.compressed;
  ++w.report->dataPagesWalked;
  const ZeroedSectors zeroed = FindZeroedSectors(page, g.pageSize, offset, w.anyZeroRun);
  if (fixedOnly && trusted >= slots && zeroed.bits == 0 && zeroed.blank == 0) {
    // Most pages: fixed records, no sector of zeros and no shift, so every
    // used slot's record is handed out as it lies, a run of them at a time.
    const EmptySlotRule rule = EmptySlotRuleOf(g);
    for (uint32_t s = 0; s < slots;) {
      const uint32_t at = header + s * g.slotLength;
      const uint32_t used = UsedSlotsInRow(rule, page, g.pageSize, at, g.slotLength, slots - s);
      if (used > 0) TakeFixedSlots(w, page + at, used, logical);
      s += used + 1;  // the slot after the run is empty
    }
    return;
  }
  for (uint32_t s = 0; s < slots; ++s) {
    const uint32_t slotOffset = header + s * g.slotLength;
    if (!SlotHoldsRecord(g, page, slotOffset)) continue;
    if (s >= trusted) {
      HoldBack(Gate::MovedByShift, page + slotOffset + g.slotDataOffset,
               fixedOnly ? g.recordLength : g.slotLength - g.slotDataOffset, *w.sink, w.report);
      continue;
    }
    if (TouchesZeroedSector(zeroed, offset, slotOffset, g.slotLength)) {
      HoldBack(Gate::ZeroedSector, page + slotOffset + g.slotDataOffset,
               fixedOnly ? g.recordLength : g.slotLength - g.slotDataOffset, *w.sink, w.report);
      continue;
    }
    const uint64_t before = w.report->recordsSalvaged;
    if (fixedOnly) TakeFixedSlot(w, page + slotOffset, logical);
    else TakeSlot(w, page + slotOffset, logical, offset + slotOffset);
    // Handed out over a sector of zeros that the rule did not count: the
    // report says so, for a person who knows the disk lost sectors.
    if (w.report->recordsSalvaged > before &&
        TouchesZeroedSector(zeroed, offset, slotOffset, g.slotLength, true)) {
      ++w.report->recordsOverBlankSectors;
    }
  }
}

// Bytes a page is read into: the last slot of a page may reach a few bytes
// past it, and a record with its pointer past its slot; such bytes read as
// zeros, as the reader supplies them.
size_t PageAreaBytes(const Geometry& g) {
  return static_cast<size_t>(g.pageSize) + g.slotLength + g.recordLength +
         ChainPointerSize(g.layout->chain) + 16;
}

// True when the walk of every slot stays inside the page (its fixed part,
// the tail or stream pointer after it or at its start): the page can then
// be walked where it lies, with no copy padded with zeros.
bool WalkStaysInPage(const Geometry& g) {
  const uint32_t slots = SlotsPerPage(g);
  const uint64_t last = g.layout->dataPageHeaderSize +
                        static_cast<uint64_t>(slots > 0 ? slots - 1 : 0) * g.slotLength;
  uint64_t reach = std::max<uint64_t>(g.slotLength, g.slotDataOffset + g.recordLength);
  if (g.variable) {
    reach = std::max<uint64_t>(reach, g.slotDataOffset + g.recordLength +
                                          ChainPointerSize(g.layout->chain));
  }
  if (g.compressed) reach = std::max<uint64_t>(reach, ChainPointerSize(g.layout->compressedChain));
  return last + reach <= g.pageSize;
}

}  // namespace

void BeginEarlyWalk(EarlyWalk* early, const Geometry& g, bool lostSectors,
                    const RecordSinkFunction& sink, SalvageReport* report) {
  early->geometry = &g;
  early->lostSectors = lostSectors;
  early->sink = &sink;
  early->report = report;
  early->page.assign(WalkStaysInPage(g) ? 0 : PageAreaBytes(g), 0);
}

void WalkProvenPage(void* context, uint32_t logical, int64_t offset, const uint8_t* page) {
  EarlyWalk* early = static_cast<EarlyWalk*>(context);
  const Geometry& g = *early->geometry;
  if (!early->page.empty()) {
    memcpy(early->page.data(), page, g.pageSize);
    page = early->page.data();
  }
  // The pass has not yet seen every header: the strict sector rule unless
  // the user says sectors were lost, and where the pass finds headers wiped
  // the walk is done again (salvage.cc).
  const PageWalk walk{nullptr, &g, early->sink, early->report, nullptr, nullptr, 0,
                      early->lostSectors};
  WalkDataPage(walk, page, logical, offset, g.pageSize, g.pageSize);
}

void WalkRecords(InputFile* input, const Geometry& g, const ScanResult& scan,
                 uint32_t firstLogical, bool lostSectors, const RecordSinkFunction& sink,
                 SalvageReport* report) {
  const uint32_t pageSize = g.pageSize;
  std::vector<uint8_t> page(PageAreaBytes(g), 0);
  std::vector<uint8_t> record(kRecordArea);
  ChainWalker walker;
  PrepareChainWalker(&walker, input, &g, &scan.directory, &scan.mapped);
  walker.lostSectors = lostSectors;
  const PageWalk walk{input, &g, &sink, report, &walker, &record,
                      LogicalBound(input->size / pageSize),
                      lostSectors || scan.counts.wipedHeaders > 0};
  const std::vector<uint32_t>& data = scan.directory.data;
  const bool inPlace = WalkStaysInPage(g);
  for (size_t logical = firstLogical; logical < data.size(); ++logical) {
    if ((logical & 1023) == 0 && sink.progress != nullptr) {
      sink.progress(sink.progressContext,
                    input->size / 2 + static_cast<int64_t>(input->size / 2 * logical / data.size()));
    }
    if (data[logical] == kNoPhysicalPage) continue;
    const int64_t offset = PhysicalPageOffset(g, data[logical]);
    const PartPage* part = FindPartPage(scan, data[logical]);
    const uint32_t want = part == nullptr || part->restHeldBack ? pageSize : part->bytes;
    const bool cut = want < pageSize;
    const uint8_t* bytes = inPlace && !cut ? ViewInputAt(input, offset, pageSize) : nullptr;
    if (bytes == nullptr) {
      // Past a page's end the area stays zeros; a cut page is zeros past
      // what is there.
      if (cut) std::fill(page.begin() + want, page.begin() + pageSize, 0);
      if (ReadInputAt(input, offset, page.data(), want) == want) bytes = page.data();
    }
    if (bytes == nullptr) {
      report->skippedPages.push_back(
          SkippedPage{offset, static_cast<int64_t>(logical), "cannot be read"});
      continue;
    }
    WalkDataPage(walk, bytes, static_cast<uint32_t>(logical), offset, want,
                 part == nullptr ? pageSize : part->bytes);
  }
}
