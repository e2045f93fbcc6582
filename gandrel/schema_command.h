// gandrel schema: drafts a schema file (export/schema.h) for data files
// that have no dictionary, or turns a dictionary into one.
//
//   gandrel schema FILE... -o SCHEMA.json [--ddf DIR] [--codepage N]
//   gandrel schema --ddf DIR -o SCHEMA.json
//
// A draft rests on the file's keys (reader/key_definitions.h, as gandrel
// info decodes them) and on the bytes of every salvaged record
// (export/schema_draft.h).  With --ddf the drafted fields that sit where the
// dictionary has one are named as there.
#ifndef GANDREL_GANDREL_SCHEMA_COMMAND_H_
#define GANDREL_GANDREL_SCHEMA_COMMAND_H_

#include <string>
#include <vector>

#include "export/codepage.h"
#include "export/schema.h"
#include "export/schema_draft.h"
#include "gandrel/command_line.h"

extern const CommandOption kSchemaOptions[];
extern const int kSchemaOptionCount;

// The fields the file's keys give: one per key segment (named "key<k>" or
// "key<k>_<s>", 0-based key number, 1-based segment), typed by the
// segment's extended type where the file keeps one, else unsigned for
// binary segments and string for the others.
std::vector<KnownField> KeyFieldsOf(const std::string& path, uint16_t* recordLength);

// Drafts the table of the data file `path`; `file` is how the schema names
// it.  False with *error set when the file cannot be read as a data file.
bool DraftFileTable(const std::string& path, const std::string& file, const Codepage& codepage,
                    SchemaTable* table, std::string* error);

int RunSchemaCommand(const ParsedCommandLine& parsed);

#endif  // GANDREL_GANDREL_SCHEMA_COMMAND_H_
