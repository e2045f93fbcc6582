#include "salvage/records.h"

#include <cstring>
#include <vector>

#include "reader/v8_layout.h"
#include "reader/slots.h"
#include "salvage/chain.h"

namespace {

// One record from its slot into `out`: the fixed part and its tail, or the
// decoded stream.  False when its chain ended before its end.
bool TakeRecord(ChainWalker* walker, const Geometry& g, const uint8_t* slot,
                ByteSink* out, std::string* reason) {
  RunLengthDecoder decoder;
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

}  // namespace

bool SlotHoldsRecord(const Geometry& g, const uint8_t* page, uint32_t slotOffset) {
  const EmptySlotRule rule =
      g.compressed ? g.layout->emptySlotCompressed : g.layout->emptySlotConsole;
  return !SlotIsEmpty(rule, page, g.pageSize, slotOffset, g.slotLength);
}

void WalkRecords(InputFile* input, const Geometry& g, const ScanResult& scan,
                 const RecordSinkFunction& sink, SalvageReport* report) {
  const uint32_t pageSize = g.pageSize;
  const uint32_t header = g.layout->dataPageHeaderSize;
  const uint32_t slots = (pageSize - g.layout->slotCountReserve) / g.slotLength;
  const bool v8 = g.layout->versionClass == 3;
  const uint32_t pointerBytes = v8 ? kV8PointerSize : 4;
  // The last slot of a page may reach a few bytes past it, and a record
  // with its pointer past its slot: such bytes read as zeros, as the reader
  // supplies them.
  std::vector<uint8_t> page(static_cast<size_t>(pageSize) + g.slotLength + g.recordLength +
                                pointerBytes + 16,
                            0);
  std::vector<uint8_t> record(kRecordArea);
  ChainWalker walker;
  PrepareChainWalker(&walker, input, &g, &scan.directory, &scan.mapped);
  const std::vector<uint32_t>& data = scan.directory.data;

  for (size_t logical = 1; logical < data.size(); ++logical) {
    if ((logical & 1023) == 0 && sink.progress != nullptr) {
      sink.progress(sink.progressContext,
                    input->size / 2 + static_cast<int64_t>(input->size / 2 * logical / data.size()));
    }
    if (data[logical] == kNoPhysicalPage) continue;
    const int64_t offset = PhysicalPageOffset(g, data[logical]);
    if (ReadInputAt(input, offset, page.data(), pageSize) != pageSize) {
      report->skippedPages.push_back(
          SkippedPage{offset, static_cast<int64_t>(logical), "cannot be read"});
      continue;
    }
    ++report->dataPagesWalked;
    for (uint32_t s = 0; s < slots; ++s) {
      const uint32_t slotOffset = header + s * g.slotLength;
      const uint8_t* slot = page.data() + slotOffset;
      if (!SlotHoldsRecord(g, page.data(), slotOffset)) continue;
      // A record longer than the area is walked once more into an area of
      // its length; only records beyond kMaxRecordBytes are left out.
      ByteSink out;
      std::string reason;
      bool whole = true;
      for (int attempt = 0; attempt < 2; ++attempt) {
        out = ByteSink{};
        reason.clear();
        out.destination = record.data();
        out.capacity = static_cast<uint32_t>(record.size());
        whole = TakeRecord(&walker, g, slot, &out, &reason);
        if (out.length <= record.size() || out.length > kMaxRecordBytes) break;
        record.resize(static_cast<size_t>(out.length));
      }
      if (out.length > record.size()) {
        ++report->recordsTooLong;
        continue;
      }
      ++report->recordsSalvaged;
      if (!whole && report->brokenChains.size() >= kMaxListedChains) {
        ++report->brokenNotListed;
      } else if (!whole) {
        report->brokenChains.push_back(BrokenChain{report->recordsSalvaged,
                                                   static_cast<uint32_t>(logical),
                                                   offset + slotOffset, out.length, reason});
      }
      if (sink.write != nullptr) {
        sink.write(sink.context, record.data(), static_cast<uint32_t>(out.length));
      }
      if (sink.writeWithPage != nullptr) {
        sink.writeWithPage(sink.context, record.data(), static_cast<uint32_t>(out.length),
                           static_cast<uint32_t>(logical));
      }
    }
  }
}
