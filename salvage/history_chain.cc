#include "salvage/history_chain.h"

#include <algorithm>

#include "reader/format.h"
#include "reader/v8_layout.h"
#include "salvage/salvage.h"

namespace {

ChainLayout LayoutOf(const Geometry& g) {
  const ChainRule rule = g.compressed ? g.layout->compressedChain : g.layout->chain;
  return ChainLayout{rule, g.layout->fragmentHeaderSize, g.layout->fragmentCountOffset,
                     g.layout->firstFragmentOffset};
}

// The uncounted tables below 0x0800 end healthy chains with a fragment of
// no length, which the table does not hold: there that is the chain's end.
bool EndsOnMissingFragment(ChainRule rule) {
  return rule == ChainRule::Pointer24Bit15 || rule == ChainRule::Pointer24Header4;
}

bool LoadCopy(CopyChain* c, uint32_t physical) {
  const int64_t offset = PhysicalPageOffset(*c->geometry, physical);
  if (c->pageOffset == offset) return true;
  c->pageOffset = -1;
  const uint32_t pageSize = c->geometry->pageSize;
  if (ReadInputAt(c->input, offset, c->page.data(), pageSize) != pageSize) return false;
  c->pageOffset = offset;
  return true;
}

// The loaded copy holds the fragment, all of it inside the page.
bool HoldsFragment(const CopyChain& c, const ChainLayout& layout, uint32_t fragment) {
  const uint32_t pageSize = c.geometry->pageSize;
  Fragment f;
  return LocateFragment(layout, c.page.data(), pageSize, fragment, &f) &&
         f.dataStart <= pageSize && f.dataLength <= pageSize - f.dataStart;
}

// What a piece of a record must be to count as whole.
struct Expect {
  uint64_t exact = UINT64_MAX;  // its length, when known
  uint64_t atLeast = 0;
  bool stream = false;          // a run-length stream: ends after a block
};

// The choice of copies of one walk: per step the index among the copies
// that held the fragment, and how many did.
struct Choice {
  std::vector<uint32_t> picks;
  std::vector<uint32_t> options;
};

ChainEnd WalkOnce(CopyChain* c, const ChainLayout& layout, ChainPointer first,
                  uint64_t cutoff, Choice* choice, ByteSink* sink) {
  ChainWalk walk;
  BeginChain(&walk, layout, c->geometry->pageSize, first, &c->visited);
  choice->options.clear();
  std::vector<uint32_t> holding;
  int64_t page = 0;
  while (NextChainPage(&walk, *sink, &page)) {
    holding.clear();
    const bool known = page > 0 && static_cast<uint64_t>(page) < c->copies.size();
    const std::vector<uint32_t> none;
    const std::vector<uint32_t>& copies = known ? c->copies[static_cast<size_t>(page)] : none;
    for (uint32_t physical : copies) {
      if (LoadCopy(c, physical) && HoldsFragment(*c, layout, walk.pointer.fragment)) {
        holding.push_back(physical);
      }
    }
    const size_t step = choice->options.size();
    choice->options.push_back(static_cast<uint32_t>(holding.size()));
    if (holding.empty()) {
      // The walker ends an old chain on the current copy's table.
      if (EndsOnMissingFragment(layout.rule) && !copies.empty() && LoadCopy(c, copies[0])) {
        TakeChainPage(&walk, c->page.data(), sink);
        continue;
      }
      EndChain(&walk, ChainEnd::MissingPage);
      break;
    }
    const uint32_t pick = step < choice->picks.size() ? choice->picks[step] : 0;
    if (!LoadCopy(c, holding[std::min<size_t>(pick, holding.size() - 1)])) {
      EndChain(&walk, ChainEnd::Unreadable);
      break;
    }
    TakeChainPage(&walk, c->page.data(), sink);
    if (sink->length > cutoff) EndChain(&walk, ChainEnd::Bound);
  }
  return walk.end;
}

bool Whole(ChainEnd end, ChainRule rule, const ByteSink& sink, const Expect& expect) {
  const bool ended = end == ChainEnd::Running || end == ChainEnd::Finished ||
                     (end == ChainEnd::DamagedTable && EndsOnMissingFragment(rule));
  if (!ended) return false;
  if (expect.exact != UINT64_MAX && sink.length != expect.exact) return false;
  if (sink.length < expect.atLeast) return false;
  // A stream cut inside a block did not end where its record ends.
  if (expect.stream &&
      (sink.decoder == nullptr || sink.decoder->step != RunLengthDecoder::Step::CountLow)) {
    return false;
  }
  return true;
}

// Walks the chain at `pointerBytes` with one choice of copies after the
// other (the last step with a copy left moves on) until the piece is whole.
bool WalkAnyCopies(CopyChain* c, const uint8_t* pointerBytes, const Expect& expect,
                   ByteSink* sink, std::string* reason) {
  const ChainLayout layout = LayoutOf(*c->geometry);
  const ChainPointer first = DecodeChainPointer(layout.rule, pointerBytes);
  const ByteSink start = *sink;
  const RunLengthDecoder decoderStart = sink->decoder ? *sink->decoder : RunLengthDecoder{};
  const size_t collected = sink->collect ? sink->collect->size() : 0;
  const uint64_t cutoff = expect.exact != UINT64_MAX ? expect.exact : kMaxRecordBytes;
  Choice choice;
  for (uint32_t tries = 0; tries < kMaxChainTries; ++tries) {
    *sink = start;
    if (sink->decoder != nullptr) *sink->decoder = decoderStart;
    if (sink->collect != nullptr) sink->collect->resize(collected);
    const ChainEnd end = WalkOnce(c, layout, first, cutoff, &choice, sink);
    if (Whole(end, layout.rule, *sink, expect)) return true;
    size_t j = choice.options.size();
    choice.picks.resize(j, 0);
    while (j > 0 && choice.picks[j - 1] + 1 >= choice.options[j - 1]) --j;
    if (j == 0) {
      *reason = end == ChainEnd::MissingPage ? "a fragment is in no copy of its page"
                : end == ChainEnd::Loop      ? "the chain comes back to a fragment it has read"
                                             : "no copy of its pages completes the chain";
      return false;
    }
    choice.picks.resize(j);
    ++choice.picks[j - 1];
  }
  *reason = "no choice of page copies completes the chain within " +
            std::to_string(kMaxChainTries) + " walks";
  return false;
}

// 0x0950 chunked tails: the chunk table's chain, then each chunk's, each
// exactly as long as the table says.
bool RebuildChunkedTail(CopyChain* c, const uint8_t* pointer, ByteSink* sink,
                        std::string* reason) {
  std::vector<uint8_t> table;
  ByteSink tableSink;
  tableSink.collect = &table;
  if (!WalkAnyCopies(c, pointer, Expect{}, &tableSink, reason)) {
    *reason = "chunk table: " + *reason;
    return false;
  }
  for (size_t at = 0; at + kChunkEntrySize <= table.size(); at += kChunkEntrySize) {
    Expect expect;
    expect.exact = sink->length + DecodeLE32(table.data() + at + kChunkLengthOffset);
    sink->limit = expect.exact;
    const bool whole = WalkAnyCopies(c, table.data() + at, expect, sink, reason);
    sink->limit = UINT64_MAX;
    if (!whole) {
      *reason = "chunk " + std::to_string(at / kChunkEntrySize) + ": " + *reason;
      return false;
    }
  }
  return true;
}

}  // namespace

void PrepareCopyChain(CopyChain* chain, InputFile* input, const Geometry* g,
                      const ScanResult& scan) {
  chain->input = input;
  chain->geometry = g;
  chain->page.assign(g->pageSize, 0);
  chain->pageOffset = -1;
  const std::vector<uint32_t>& current =
      g->layout->variableViaPageOffset ? scan.mapped : scan.directory.variable;
  chain->copies.assign(current.size(), {});
  for (size_t logical = 0; logical < current.size(); ++logical) {
    if (current[logical] != kNoPhysicalPage) chain->copies[logical].push_back(current[logical]);
  }
  // scan.superseded lists each page's copies newest first.
  for (const PageCopy& copy : scan.superseded) {
    if (!copy.variable) continue;
    if (copy.logical >= chain->copies.size()) chain->copies.resize(copy.logical + 1);
    std::vector<uint32_t>& list = chain->copies[copy.logical];
    if (std::find(list.begin(), list.end(), copy.physical) == list.end()) {
      list.push_back(copy.physical);
    }
  }
}

bool RebuildRecord(CopyChain* c, const uint8_t* slot, std::vector<uint8_t>* record,
                   std::string* reason) {
  const Geometry& g = *c->geometry;
  record->clear();
  ByteSink sink;
  if (g.compressed) {
    // 0x0950 keeps only the decoded fixed part's length: the record may
    // run longer, and ends where its stream does.  Such a record is decoded
    // into an area of kRecordArea bytes first, and once more into one of
    // its length when it is longer.
    Expect expect;
    expect.stream = true;
    if (g.layout->chunkedTails) expect.atLeast = g.recordLength;
    else expect.exact = g.recordLength;
    uint32_t area = g.layout->chunkedTails ? kRecordArea : g.recordLength;
    bool whole = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
      record->assign(area, 0);
      RunLengthDecoder decoder;
      sink = ByteSink{};
      sink.decoder = &decoder;
      sink.destination = record->data();
      sink.capacity = area;
      whole = WalkAnyCopies(c, slot, expect, &sink, reason);
      if (!whole || sink.length <= area) break;
      area = static_cast<uint32_t>(sink.length);
    }
    record->resize(static_cast<size_t>(std::min<uint64_t>(sink.length, area)));
    return whole;
  }
  sink.collect = record;
  SinkAppend(&sink, slot + g.slotDataOffset, g.recordLength);
  if (!g.variable) return true;
  const uint8_t* pointer = slot + g.slotDataOffset + g.recordLength;
  if (g.chunkedTails) return RebuildChunkedTail(c, pointer, &sink, reason);
  return WalkAnyCopies(c, pointer, Expect{}, &sink, reason);
}
