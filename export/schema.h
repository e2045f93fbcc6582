// Schema files: the layout of data files written down by a person, a
// script or `gandrel schema`, for exporting files that have no DDF
// dictionary (or a wrong one).  A small JSON document:
//
//   {"tables": [
//     {"file": "F17.DAT", "name": "Clients", "codepage": 866,
//      "fields": [{"name": "id", "offset": 0, "length": 4, "type": "integer"},
//                 ...],
//      "recordTypes": [
//        {"name": "header", "when": {"offset": 0, "length": 1, "equals": "43"},
//         "fields": [...]}]}]}
//
//   file         the data file: relative to the schema file's folder (or
//                the export's --data folder), matched as dictionary
//                locations are ('\' or '/', without regard to case)
//   name         the table's name (default: the file's stem)
//   codepage     optional: 437, 850, 866 or 1252 (default: the export's)
//   fields       name, offset (0-based), length (bytes), type (the DDF
//                type names in lower case: string, zstring, lstring, note,
//                integer, unsigned, autoinc, float, bfloat, date, time,
//                decimal, money, numeric, numericsa, numericsts, logical,
//                bit, currency, timestamp, wstring, wzstring, guid, lvar;
//                and "bytes", the field's bytes as they are); optional
//                "decimals"; any other member (such as "evidence") is kept
//                for people and ignored
//   recordTypes  optional: each record goes to the first type whose `when`
//                matches, and that type's table ("<name>_<type name>")
//                takes it with the type's own fields; records matching none
//                go to the table itself, with its fields.  `when`: the
//                record's `length` bytes at `offset` equal the hex string
//                `equals`, or lie between `from` and `to` (hex, compared
//                byte by byte), both included.
#ifndef GANDREL_EXPORT_SCHEMA_H_
#define GANDREL_EXPORT_SCHEMA_H_

#include <cstdint>
#include <string>
#include <vector>

#include "export/dictionary.h"

// Bytes at a place in the record that choose a record type.
struct RecordWhen {
  uint16_t offset;
  uint16_t length;
  std::vector<uint8_t> from;  // `equals` gives from == to
  std::vector<uint8_t> to;
};

struct SchemaRecordType {
  std::string name;
  RecordWhen when;
  std::vector<FieldDef> fields;        // ascending offset
  std::vector<std::string> evidence;   // one per field; may be empty text
};

struct SchemaTable {
  std::string file;
  std::string name;
  uint16_t codepage;  // 0: the export's
  std::vector<FieldDef> fields;        // ascending offset
  std::vector<std::string> evidence;   // one per field
  std::vector<SchemaRecordType> recordTypes;
  std::vector<KeyDef> keys;  // from a dictionary merged in; schema files
                             // do not carry keys
};

struct Schema {
  std::vector<SchemaTable> tables;
};

// The data type code of a schema type name ("zstring", "unsigned"), or
// false when there is none.
bool DataTypeFromName(const std::string& name, uint8_t* dataType);

// The schema type name of a code: DataTypeName in lower case, "unsigned"
// for unsigned binary.
std::string SchemaTypeName(uint8_t dataType);

// Reads the schema file `path`.  False with *error one line naming the
// file, the place and what is wrong, e.g.
//   "s.json: tables[0].fields[2] (\"amount\"): type 'money2' is unknown".
bool LoadSchema(const std::string& path, Schema* schema, std::string* error);

// The same from the text of a schema file; `name` is the file's name for
// messages.
bool ParseSchema(const std::string& text, const std::string& name, Schema* schema,
                 std::string* error);

// The schema as a JSON text a person can read: one line per field.
std::string SchemaJson(const Schema& schema);

// Whether `length` bytes of `record` match `when`.
bool RecordMatches(const RecordWhen& when, const uint8_t* record, uint32_t length);

// The index of the first record type that takes the record, or -1.
int32_t RecordTypeOf(const SchemaTable& table, const uint8_t* record, uint32_t length);

// The table definition the export writes for `table` (type -1) or for its
// record type `type`: named, fields numbered from 1, the keys kept.
TableDef SchemaTableDef(const SchemaTable& table, int32_t type);

// A dictionary's table as a schema table (no record types).
SchemaTable SchemaFromDictionary(const TableDef& table);

// Corrects `table` (from a dictionary) by `schema`: a schema field replaces
// the dictionary's fields it overlaps (keeping the dictionary's name where
// the schema's is positional, "f0040_..."), the others stay; record types
// and the code page come from the schema.
void MergeSchemaInto(const SchemaTable& schema, SchemaTable* table);

// Sorts fields (and their evidence, which may be shorter: empty lines are
// added) by offset; ties keep their order.
void SortFieldsByOffset(std::vector<FieldDef>* fields, std::vector<std::string>* evidence);

// Whether `name` is positional, as drafts name fields: "f" and four digits.
bool IsPositionalName(const std::string& name);

#endif  // GANDREL_EXPORT_SCHEMA_H_
