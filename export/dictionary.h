// The application's data dictionary: the DDF files FILE.DDF, FIELD.DDF and
// INDEX.DDF, themselves Btrieve data files, whose records describe the
// tables (data files), their fields and their keys.
//
// Row layouts, all integers little-endian.  Every dictionary describes
// itself in its own FIELD.DDF (tables X$File, X$Field, X$Index); the
// dictionaries of the corpus (versions 0x0400 to 0x0800) agree with this:
//
// FILE.DDF, 87 bytes (97 in newer dictionaries, with a zero tail):
//   offset width  meaning
//        0     2  file id
//        2    20  table name, blank or NUL padded
//       22    64  location of the data file, relative to the dictionary
//                 folder, '\' separated, blank or NUL padded
//       86     1  flags (0x10 on X$File, X$Field and X$Index in the corpus)
//       87    10  reserved (newer dictionaries only)
//
// FIELD.DDF, 32 bytes:
//        0     2  field id
//        2     2  file id of the table
//        4    20  field name, blank or NUL padded
//       24     1  data type (DdfDataType below; 255: the name of a key)
//       25     2  offset in the record (for type 255: the key number)
//       27     2  size in bytes
//       29     1  decimals (for bit fields: the bit position)
//       30     2  flags
//
// INDEX.DDF, 10 bytes, one row per key segment:
//        0     2  file id
//        2     2  field id
//        4     2  key number (0- or 1-based, as the application chose)
//        6     2  segment number within the key (0- or 1-based)
//        8     2  flags (Btrieve key flags)
#ifndef GANDREL_EXPORT_DICTIONARY_H_
#define GANDREL_EXPORT_DICTIONARY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "export/codepage.h"

constexpr uint32_t kFileRowLength = 87;
constexpr uint32_t kFileRowIdOffset = 0;
constexpr uint32_t kFileRowNameOffset = 2;
constexpr uint32_t kFileRowLocationOffset = 22;
constexpr uint32_t kFileRowFlagsOffset = 86;
constexpr uint32_t kDdfNameLength = 20;
constexpr uint32_t kDdfLocationLength = 64;

constexpr uint32_t kFieldRowLength = 32;
constexpr uint32_t kFieldRowIdOffset = 0;
constexpr uint32_t kFieldRowFileOffset = 2;
constexpr uint32_t kFieldRowNameOffset = 4;
constexpr uint32_t kFieldRowTypeOffset = 24;
constexpr uint32_t kFieldRowOffsetOffset = 25;
constexpr uint32_t kFieldRowSizeOffset = 27;
constexpr uint32_t kFieldRowDecimalsOffset = 29;
constexpr uint32_t kFieldRowFlagsOffset = 30;

constexpr uint32_t kIndexRowLength = 10;

// Data type codes of FIELD.DDF.  Seen in the corpus: 0, 1, 2, 3, 7, 10, 11,
// 15 and 255.
enum DdfDataType : uint8_t {
  kDdfString = 0,
  kDdfInteger = 1,
  kDdfFloat = 2,
  kDdfDate = 3,
  kDdfTime = 4,
  kDdfDecimal = 5,
  kDdfMoney = 6,
  kDdfLogical = 7,
  kDdfNumeric = 8,
  kDdfBfloat = 9,
  kDdfLstring = 10,
  kDdfZstring = 11,
  kDdfNote = 12,
  kDdfLvar = 13,
  kDdfUnsignedBinary = 14,
  kDdfAutoincrement = 15,
  kDdfBit = 16,
  kDdfNumericSts = 17,
  kDdfNumericSa = 18,
  kDdfCurrency = 19,
  kDdfTimestamp = 20,
  kDdfWstring = 25,
  kDdfWzstring = 26,
  kDdfGuid = 27,
  kDdfDatetime = 30,
  kSchemaBytes = 254,  // not a DDF type: a schema file's raw bytes (blob)
  kDdfKeyName = 255,  // not a field: names key number `offset`
};

enum DictionaryStatus : uint16_t {
  kDictionaryOk = 0,
  kDictionaryShortRow = 1,     // a row shorter than its layout
  kDictionaryMissingFile = 2,  // FILE.DDF or FIELD.DDF not in the folder
  kDictionaryUnreadable = 3,   // the reader could not open a DDF file
};

const char* DictionaryStatusName(DictionaryStatus status);

struct DdfFileRow {
  uint16_t id;
  std::string name;      // UTF-8, padding removed
  std::string location;  // UTF-8, padding removed, as stored
  uint8_t flags;
};

struct DdfFieldRow {
  uint16_t id;
  uint16_t fileId;
  std::string name;  // UTF-8, padding removed
  uint8_t dataType;
  uint16_t offset;
  uint16_t size;
  uint8_t decimals;
  uint16_t flags;
};

struct DdfIndexRow {
  uint16_t fileId;
  uint16_t fieldId;
  uint16_t keyNumber;
  uint16_t segment;
  uint16_t flags;
};

// Each parser reads one row from `length` bytes of a record.  0, or 1 when
// the record is shorter than the row layout (the row is left untouched).
// Longer records are accepted: the bytes past the layout are ignored.
DictionaryStatus ParseFileRow(const uint8_t* record, uint32_t length,
                              const Codepage& codepage, DdfFileRow* row);
DictionaryStatus ParseFieldRow(const uint8_t* record, uint32_t length,
                               const Codepage& codepage, DdfFieldRow* row);
DictionaryStatus ParseIndexRow(const uint8_t* record, uint32_t length,
                               DdfIndexRow* row);

// --- Table definitions ------------------------------------------------------

struct FieldDef {
  uint16_t id;
  std::string name;  // UTF-8
  uint8_t dataType;  // DdfDataType
  uint16_t offset;
  uint16_t size;
  uint8_t decimals;
  uint16_t flags;
};

struct DdfKeySegment {
  uint16_t fieldId;
  int32_t fieldIndex;  // into TableDef::fields; -1 when the field is unknown
  uint16_t segment;
  uint16_t flags;
};

struct KeyDef {
  uint16_t number;
  std::string name;                   // from a type-255 row, else empty
  std::vector<DdfKeySegment> segments;  // ascending segment number
};

struct TableDef {
  uint16_t id;
  std::string name;      // UTF-8
  std::string location;  // as stored in FILE.DDF
  std::string path;      // the data file found for it; empty when none
  uint8_t flags;
  std::vector<FieldDef> fields;  // ascending offset, dictionary order on ties
  std::vector<KeyDef> keys;      // ascending key number
};

struct Dictionary {
  std::string folder;
  std::vector<TableDef> tables;        // FILE.DDF order
  std::vector<std::string> problems;   // one line per row skipped or unmatched
};

// Builds the table definitions from parsed rows.  Fields and key segments
// of a file id without a FILE.DDF row are dropped with a problem line;
// type-255 rows name keys and are not fields.  Locations are resolved
// against `folder` (which may be empty: no paths are filled).
void BuildDictionary(const std::vector<DdfFileRow>& files,
                     const std::vector<DdfFieldRow>& fields,
                     const std::vector<DdfIndexRow>& indexes,
                     const std::string& folder, Dictionary* dictionary);

// Reads FILE.DDF, FIELD.DDF and INDEX.DDF of `folder` (names matched
// without regard to case) through the reader and builds the dictionary.
// INDEX.DDF may be missing (no keys).  Rows too short to parse are skipped
// with a problem line.  0; 2 when FILE.DDF or FIELD.DDF is missing; 3 when
// the reader cannot open one (the reader's status is in the problem line).
DictionaryStatus LoadDictionary(const std::string& folder,
                                const Codepage& codepage,
                                Dictionary* dictionary);

// Fills every table's path anew from its location, resolved against
// `dataFolder` instead of the dictionary's folder (for data kept apart from
// its dictionary).  Tables not found there get an empty path.
void ResolveTablePaths(const std::string& dataFolder, Dictionary* dictionary);

// Finds the file a dictionary location names: the location's parts, split
// at '\' or '/', are matched one by one against the entries of `folder`
// without regard to ASCII case; "." and ".." are honoured, a drive prefix
// ("C:") is dropped.  When that finds nothing, the last part alone is
// looked up in `folder`.  Returns the path, or an empty string.
std::string ResolveLocation(const std::string& folder,
                            const std::string& location);

#endif  // GANDREL_EXPORT_DICTIONARY_H_
