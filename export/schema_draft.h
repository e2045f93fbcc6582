// Drafting a schema from the records themselves: what the bytes of every
// record show, column by column, and what the keys say.  The draft is a
// proposal for a person to check and correct; each field carries the
// evidence it rests on ("printable in 100% of 2961 records").
//
// The record's fixed part is split from left to right.  Key segments come
// first: their place, length and (where the version keeps it) type are the
// file's own.  The gaps between them take, at each offset, the first of:
//   date      4 bytes, day / month / year (LE) valid, or all zero, in every
//             record (the DDF date layout)
//   float     8 bytes, an IEEE double finite and between 1e-4 and 1e13 in
//             magnitude (or zero) in every record, not all zero
//   filler    columns holding one byte value in every record
//   lstring   a length byte, then that many printable bytes, in every record
//   text      printable bytes (ASCII and the code page's letters) or
//             padding (blanks, NULs) in 99% of the records; split where a
//             new run of text begins after padding in most records; NUL
//             padding makes it a zstring, blanks a string
//   packed    4 bytes, a little-endian YYYYMMDD in every record (integer)
//   integer   4 bytes whose top byte only extends the sign (a narrow range),
//             or 2 bytes below 2^14 in magnitude; 1 byte holding only 0
//             and 1 is logical
//   float     4 bytes, an IEEE single finite and plausible, as above
//   bytes     whatever is left, consecutive columns joined
// Bytes past the fixed part (variable-length records) become one note
// field when printable, else lvar.
//
// Record types: when the byte (or the LE word) at offset 0 splits the
// records into 2 to 12 groups, each of at least 10 and 0.5% of the records
// (together 95% of them), whose drafts share less than half their fields,
// each group becomes a record type with its own fields; not when the
// leading bytes begin a longer text (the first letters of a sorted name).
#ifndef GANDREL_EXPORT_SCHEMA_DRAFT_H_
#define GANDREL_EXPORT_SCHEMA_DRAFT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "export/codepage.h"
#include "export/schema.h"

// The records to learn from, stored one after another.
struct RecordSample {
  uint32_t fixedLength = 0;   // the file's record length (fixed part)
  uint64_t seen = 0;          // records offered, kept or not
  std::vector<uint8_t> bytes; // the kept records' first fixedLength bytes
                              // (shorter records: what they have)
  std::vector<uint32_t> starts, lengths;  // into `bytes`, one per record
  uint64_t longer = 0;        // records longer than fixedLength
  uint64_t longerPrintable = 0;  // of those, with a printable variable part
};

// Records kept for the draft; more are counted, not kept.
constexpr uint32_t kDraftMaxRecords = 50000;

// Offers one record to the sample.
void AddSampleRecord(RecordSample* sample, const uint8_t* record, uint32_t length);

// A field the file's keys give (place, length, type).
struct KnownField {
  FieldDef field;
  std::string evidence;
};

// Fields for the records `which` (indexes into the sample; all when
// empty) over [0, fixedLength), around the `known` fields.
void DraftFields(const RecordSample& sample, const std::vector<uint32_t>& which,
                 const Codepage& codepage, const std::vector<KnownField>& known,
                 std::vector<FieldDef>* fields, std::vector<std::string>* evidence);

// A whole table: its fields, and record types where the leading byte or
// word splits the records into groups of different layouts.
void DraftTable(const RecordSample& sample, const Codepage& codepage,
                const std::vector<KnownField>& known, SchemaTable* table);

// Names the draft's positional fields after `dictionary`'s fields of the
// same offset and length (in the table and its record types).
void NameFromDictionary(const TableDef& dictionary, SchemaTable* table);

#endif  // GANDREL_EXPORT_SCHEMA_DRAFT_H_
