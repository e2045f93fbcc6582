// Fragment chains: the variable part of a record (and the whole of a
// compressed record) lies in fragments on variable pages, each fragment
// pointing to the next.  One walker serves every version class; the caller
// locates and reads the pages, the walker decodes pointers and fragment
// tables, feeds the data to a sink and decides when the chain ends.
//
// A walk:
//   ChainWalk walk;
//   BeginChain(&walk, layout, pageSize, first, &visited);
//   int64_t page;
//   while (NextChainPage(&walk, &page)) {
//     locate and read `page`, then TakeChainPage(&walk, bytes, &sink),
//     or, when it cannot be had, EndChain(&walk, ChainEnd::MissingPage)
//   }
//   walk.end says why it ended.
//
// Layouts (offsets within a variable page of pageSize bytes):
//   Pointer24Bit15 / Pointer24Header4 (0x0300 to 0x0700): the word of
//   fragment f lies at word index ((pageSize - 1) >> 1) - f; bits 0-14 are
//   the fragment's offset, 0xFFFF an unused entry, and the fragment runs to
//   the offset of the next used entry below it.  A 4-byte pointer (page bits
//   16-23, 0-7, 8-15, then the fragment number; FF FF FF = none) starts
//   every fragment of the middle class, and those of the oldest class whose
//   entry has bit 15 set (without it the fragment is the chain's last).
//   The ...Counted rules of compressed files before 0x0800 read the same
//   pointers from counted tables (reader/format.h).
//   Pointer32Counted (0x0800 to 0x0950): reader/v8_layout.h; the count and
//   the first fragment lie where the version's rules say.
#ifndef GANDREL_READER_CHAIN_H_
#define GANDREL_READER_CHAIN_H_

#include <cstdint>
#include <vector>

#include "reader/compression.h"
#include "reader/hash_index.h"
#include "reader/version_rules.h"

// How the fragments of a file are laid out: the pointer and table rule, the
// header of an old fragment, and where a counted table keeps its fragment
// count and its fragment 0.
struct ChainLayout {
  ChainRule rule;
  uint8_t fragmentHeaderSize;
  uint32_t countOffset;
  uint32_t firstFragment;
};

// A variable pointer: the page of a fragment and its number there.
struct ChainPointer {
  bool end;        // no (further) fragment
  int64_t page;    // logical page number
  uint32_t fragment;
};

// Bytes of a pointer as stored behind a fixed part or in a slot.
uint32_t ChainPointerSize(ChainRule rule);
// Decodes a stored pointer of ChainPointerSize(rule) bytes.
ChainPointer DecodeChainPointer(ChainRule rule, const uint8_t* bytes);

// Where a record's bytes go: appended as they are, or through the run-length
// decoder.  Only the first `capacity` bytes reach `destination` (which may
// be null); `length` counts them all.  With a `collect` vector every byte is
// appended to it instead.  Bytes beyond `limit` are dropped: a walk ends once
// the sink is full (a chunk of known length).
struct ByteSink {
  uint8_t* destination = nullptr;
  uint32_t capacity = 0;
  uint64_t length = 0;
  uint64_t limit = UINT64_MAX;
  RunLengthDecoder* decoder = nullptr;  // null: plain bytes
  std::vector<uint8_t>* collect = nullptr;
};
void SinkAppend(ByteSink* sink, const uint8_t* data, uint32_t length);

// One fragment of a variable page: where its data lies and what follows.
struct Fragment {
  uint32_t dataStart;
  uint32_t dataLength;
  ChainPointer next;
};
// Finds fragment `fragment` of `page`; false when the page's table has no
// such fragment or describes one that would leave the page.  Nothing outside
// the page is read.
bool LocateFragment(const ChainLayout& layout, const uint8_t* page,
                    uint32_t pageSize, uint32_t fragment, Fragment* out);

enum class ChainEnd : uint8_t {
  Running = 0,
  Finished,      // the end marker, or the last fragment of the oldest class
  Loop,          // back at a fragment already read
  MissingPage,   // the caller could not locate the next page
  DamagedTable,  // the page has no such fragment
  Bound,         // more fragments than any record has
  Unreadable,    // the caller could not read the next page
};

// Fragments already read, so that a chain leading back ends instead of going
// round for ever.  Kept by the caller across walks to spare allocations.
struct VisitedFragments {
  std::vector<uint64_t> keys;
  PositionIndex index;  // built once a chain is longer than a few fragments
};

struct ChainWalk {
  ChainLayout layout;
  uint32_t pageSize;
  ChainPointer pointer;     // the fragment to read next
  uint32_t steps;
  ChainEnd end;
  VisitedFragments* visited;
};

void BeginChain(ChainWalk* walk, const ChainLayout& layout, uint32_t pageSize,
                ChainPointer first, VisitedFragments* visited);
// True with the logical page of the next fragment in `page`; false once the
// walk has ended (walk->end says why, Finished also when `sink` is full).
bool NextChainPage(ChainWalk* walk, const ByteSink& sink, int64_t* page);
// Reads the fragment from `page` (pageSize bytes) into the sink and moves on.
void TakeChainPage(ChainWalk* walk, const uint8_t* page, ByteSink* sink);
// Ends the walk for a reason found by the caller.
void EndChain(ChainWalk* walk, ChainEnd reason);

#endif  // GANDREL_READER_CHAIN_H_
