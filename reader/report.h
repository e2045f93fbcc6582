// What the reader tells a caller about the salvage decisions it makes: every
// page it passes over and why, every fragment chain it ends early and why, a
// directory list that could not grow, a record longer than the caller's
// area.  The caller passes a reporter at open; without one the reader makes
// the same decisions and says nothing.
#ifndef GANDREL_READER_REPORT_H_
#define GANDREL_READER_REPORT_H_

#include <cstdint>

enum class ReaderEventKind : uint8_t {
  // Pages passed over.
  PageUnreadable = 1,  // the page could not be read whole (a file cut short)
  PageOutsideFile,     // the page map places the page beyond the end
  PageWrongNumber,     // the page does not carry the number it was looked
                       // up by (a stale or misplaced copy)
  PageNotData,         // the map or table says data page, the header not
  PageStaleCopy,       // another copy of the page number was written later
  PageFreed,           // the allocation table says the page is not in use
  PageZeroHeader,      // a data page header whose bytes 4, 6 and 7 are zero
  MapDamaged,          // no copy of a page map pair or table can be used
  // Fragment chains ended before their end marker.
  ChainLoop,           // back at a fragment the chain has been through
  ChainMissingPage,    // the page of the next fragment cannot be located
  ChainDamagedTable,   // the page's fragment table has no such fragment
  ChainBound,          // more fragments than any record can have
  ChainUnreadable,     // the page of the next fragment cannot be read
  ChainChunkShort,     // a chunk of a chunked tail ended before the length
                       // its table gives: the tail lacks the difference
  // Other.
  DirectoryFull,       // a page directory list could not grow: page lost
  RecordTooLong,       // a record larger than the caller's area
  FileEncrypted,       // the owner's pages are encrypted: the file is refused
  OwnerNamed,          // an owner name is set and the pages read in clear:
                       // the file is read; `detail` holds the owner mode
};

// Whether an event of `kind` is, by itself, a sign of damage.  A stale copy,
// a freed page, a record longer than the caller's area, a full directory, an
// owner's encryption or name are not: engines leave them in healthy files,
// or they are the caller's limits.  Where one kind can be either, the site
// that reports it decides (ReaderEvent::damage).
bool ReaderEventKindIsDamage(ReaderEventKind kind);

struct ReaderEvent {
  ReaderEventKind kind;
  int64_t offset;       // file offset of the page concerned, -1 unknown
  int64_t logicalPage;  // its logical page number, -1 unknown
  int64_t record;       // zero-based index of the record concerned, or -1
  bool damage = false;  // the event shows damage to the file (see above)
  int64_t detail = -1;  // OwnerNamed: the owner mode byte; else -1
};

// Plain callback and its context; `report` is called once per event, on the
// thread that uses the DataFile, and must not call back into the reader.
struct ReaderReporter {
  void (*report)(void* context, const ReaderEvent& event);
  void* context;
};

// Short English name of an event kind ("page unreadable", ...).
const char* ReaderEventName(ReaderEventKind kind);

#endif  // GANDREL_READER_REPORT_H_
