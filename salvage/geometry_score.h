// Geometry proved on the pages: candidate geometries (version row, page
// size, slot length, slot layout) scored against a sample of the file's
// pages, so that a control page copy can be checked against the pages and,
// when no copy can be believed, the geometry that explains the pages best is
// taken -- but only when it explains them clearly better than the runner-up.
//
// Header evidence of a (row, page size) candidate, over the n sampled pages
// at that page size of which h carry a header the row takes for a data or a
// variable page:  score = h x h / n.  It rewards both many headers and a
// large share of the pages: half the true page size finds the same headers
// on twice the pages, twice the size half the headers on half the pages, so
// both score half of the true size.
#ifndef GANDREL_SALVAGE_GEOMETRY_SCORE_H_
#define GANDREL_SALVAGE_GEOMETRY_SCORE_H_

#include <cstdint>
#include <vector>

#include "reader/input_stream.h"
#include "reader/version_rules.h"

// The first bytes of the file, read once and grown on demand.
struct PageSample {
  std::vector<uint8_t> bytes;
  int64_t fileSize = 0;
};

// Makes `sample` hold the first `bytes` bytes of `input` (fewer in a
// shorter file); does nothing when it holds as many already.
void LoadPageSample(InputFile* input, uint32_t bytes, PageSample* sample);

struct GeometryCandidate {
  const VersionRules* layout = nullptr;  // null: no candidate
  uint32_t pageSize = 0;
  uint32_t headers = 0;   // sampled pages with a data or variable header
  uint32_t pages = 0;     // sampled pages (page 0 not counted)
  double score = 0;       // headers x headers / pages
  uint16_t slotLength = 0;    // 0 until a slot length is decided
  double slotScore = 0;       // the slot spacing's score, 0 .. 1
};

// Header evidence of `layout` at `pageSize`.
GeometryCandidate ScoreHeaders(const PageSample& sample, const VersionRules& layout,
                               uint32_t pageSize);

// The best and the runner-up (row, page size) over the inference rows
// (reader/version_rules.h) and the page sizes each allows.  `onlyClassOf`
// (may be null) keeps the rows of its class; `pageSize` (0: any) keeps one
// size.  A runner-up is a candidate of another class or another page size.
void RankHeaderCandidates(const PageSample& sample, const VersionRules* onlyClassOf,
                          uint32_t pageSize, GeometryCandidate* best,
                          GeometryCandidate* runnerUp);

// True when `best` explains the pages clearly better than `runnerUp`: at
// least kMinEvidencePages headers (one, when no other candidate explains a
// single page), on at least one sampled page in 200, and half as much
// evidence again as the runner-up.
bool ClearlyBetter(const GeometryCandidate& best, const GeometryCandidate& runnerUp);
constexpr uint32_t kMinEvidencePages = 2;

// How the spacing of records is measured: by bytes equal one spacing
// apart (records of one file share field layouts, so bytes one slot apart
// are equal more often than at other distances), or, for records that are
// mostly filler and score alike at every spacing that way, by the byte
// pairs where the bytes change that recur one spacing apart.
enum class SpacingMeasure : uint8_t { EqualBytes, RecurringChanges };

// The slot length of `candidate` from the spacing of the records on its
// data pages, checked where the row has slot words: every sampled slot of
// the new class starts with a word whose high byte is zero.  Sets
// candidate->slotLength (0: none found) and slotScore; `runnerUp` gets the
// best length that is no multiple of the one chosen and its score.
void InferSlotLength(const PageSample& sample, SpacingMeasure measure,
                     GeometryCandidate* candidate, GeometryCandidate* runnerUp);

// The spacing score by equal bytes of slots of `length` on the sampled data
// pages of `candidate`, as InferSlotLength weighs each length.
double SlotSpacingScore(const PageSample& sample, const GeometryCandidate& candidate,
                        uint32_t length);

// How often the byte pairs where a page's bytes change (a field boundary,
// a value among filler) recur `length` bytes further on, over the bytes of
// `pages` from `header` to `pageSize`, as a share of all such pairs.  Runs
// of one byte (records padded with spaces or zeros, a page's free end)
// count only at their edges, so records that are mostly filler, which
// score alike at every spacing by equal bytes, still show their slot.
double RecurringChangesScore(const std::vector<const uint8_t*>& pages, uint32_t header,
                             uint32_t pageSize, uint32_t length);

// Compressed slots carry the row's used marker (0x0800: 01 01 00 at 6;
// 0x0600: 01 0x 00 at 4; before: 01 at 4) or a free one (zeros) in every
// sampled slot, some are used, and before 0x0800 every used one starts
// with a pointer to a page the file can hold.
bool LooksCompressed(const PageSample& sample, const GeometryCandidate& candidate);

// "FC" layout slots of 0x0600-0x0700 start with a small word (1, 2, 3 ...
// in used slots) before the record.
bool LooksFcLayout(const PageSample& sample, const GeometryCandidate& candidate,
                   uint16_t slotLength);

// How many 8-byte duplicate pointer pairs end the used slots of `c` (its
// slot length set), before the slot's first `keptBytes` bytes: the 8-byte
// groups from the slot's end that hold only pointers (0xFFFFFFFF, zero, or
// the address of a slot on the page grid) in every used sampled slot.
// `clear` is false when the innermost such group holds no pointer to a
// slot anywhere: empty pointers and blank record bytes look alike.
struct DuplicatePairs {
  uint32_t pairs = 0;
  bool clear = true;
};
DuplicatePairs CountDuplicatePairs(const PageSample& sample, const GeometryCandidate& c,
                                   uint32_t keptBytes);

// What every used sampled slot of `c` holds at slot offset `at`: tail
// pointers of the row's chain rule (the end mark, or a page the file can
// hold) with some naming a page, the records have a variable tail; the end
// mark in every one, which record bytes of all ones can be as well; or
// something else (record bytes).
enum class TailLook : uint8_t { Pointers, EndsOnly, Other };
TailLook LookAtTailPointers(const PageSample& sample, const GeometryCandidate& c, uint32_t at);


#endif  // GANDREL_SALVAGE_GEOMETRY_SCORE_H_
