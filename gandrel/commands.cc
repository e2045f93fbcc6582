// The subcommands of gandrel, one row each.
#include "gandrel/command_line.h"
#include "gandrel/export_command.h"
#include "gandrel/history_command.h"
#include "gandrel/info_command.h"
#include "gandrel/salvage_command.h"
#include "gandrel/schema_command.h"

const CommandRow kCommands[] = {
    {
        .name = "salvage",
        .usage = "FILE... -o DUMP|DIR [options]",
        .summary = "every intact record out of a damaged data file, and a report of what was lost",
        .handler = RunSalvageCommand,
        .options = kSalvageOptions,
        .optionCount = kSalvageOptionCount,
        .details =
            "With one FILE, -o names the dump file (or a directory for FILE.dump); with\n"
            "several, -o names a directory and each file gets DIR/<name>.dump (and, when\n"
            "--report names a directory, DIR/<name>.json).  A file that cannot be read\n"
            "never stops the others.\n\n"
            "exit codes: 0 healthy, everything came out; 3 records came out but damage\n"
            "was found; 2 nothing could be salvaged; 1 usage errors.",
    },
    {
        .name = "export",
        .usage = "--ddf DIR [--data DIR] -o OUT [options] | --schema SCHEMA.json -o OUT "
                 "[options] | FILE... -o OUT [options]",
#ifdef GANDREL_HAVE_SQLITE
        .summary = "the records as tables (SQLite, CSV, JSON Lines), typed by the DDF dictionary",
#else
        .summary = "the records as tables (CSV, JSON Lines; no SQLite in this build)",
#endif
        .handler = RunExportCommand,
        .options = kExportOptions,
        .optionCount = kExportOptionCount,
        .details =
            "With --ddf, every table of the dictionary whose data file is found becomes\n"
            "a table: columns named as its fields and typed by them, then _page (the\n"
            "logical page the record came from) and, in SQLite, _record (the raw\n"
            "record); the dictionary's keys become indexes.  --data names the folder of\n"
            "the data files when they are kept apart from the dictionary.  Without a\n"
            "dictionary each FILE gives a table of record, length, data (hex, or a\n"
            "BLOB in SQLite) and _page.  SQLite writes one database file OUT (made\n"
            "anew); CSV (RFC 4180, header row) and JSON Lines write OUT/<table>.csv or\n"
            ".jsonl.  The records come through the salvage walk, so a damaged file\n"
            "gives what can be salvaged; a field that does not decode is NULL.\n"
            "--schema takes the tables from a schema file (gandrel schema drafts one):\n"
            "as a dictionary does, and each record type as a table of its own; with\n"
            "--ddf it corrects the dictionary's tables and adds record types.\n"
#ifndef GANDREL_HAVE_SQLITE
            "This build (32-bit Windows) writes CSV and JSON Lines only, no SQLite.\n"
#endif
            "\n"
            "exit codes: 0 every data file healthy; 3 rows came out but damage was\n"
            "found; 2 nothing came out, or the output could not be written; 1 usage\n"
            "errors.",
    },
    {
        .name = "history",
        .usage = "FILE... -o DUMP|DIR [--versions] [options]",
        .summary = "deleted records and earlier versions, back from the old page copies a file keeps",
        .handler = RunHistoryCommand,
        .options = kHistoryOptions,
        .optionCount = kHistoryOptionCount,
        .details =
            "From 0x0600 on a changed page is written to a new place and the old copy\n"
            "stays in the file until it is reused.  Every record such an old copy holds\n"
            "at an address the current file has free comes out: \"deleted\", or\n"
            "\"deleted or never committed\" when the old copy is the newer one (a write\n"
            "the engine may not have committed).  --versions adds the earlier versions\n"
            "of records still live (\"earlier version\").  A tail or compressed record\n"
            "is rebuilt through the current variable pages, then their old copies,\n"
            "newest first; one that does not come out whole (a compressed record that\n"
            "does not decode to its length) is listed, not written.  Bytes that are a\n"
            "live record anywhere in the file never come out, and each content once.\n"
            "The current copy of each page is the one salvage chooses, so damaged files\n"
            "work too.  Before 0x0600 the engine keeps no old copies: nothing comes out,\n"
            "and the free-slot chain tells how many records it erased.  Dumps are in\n"
            "the salvage formats, written only when records came back; the report\n"
            "gives each record's logical page, slot, the physical page of its copy, the\n"
            "two usage counters and the verdict.  Several FILEs: -o and --report name\n"
            "directories, as for salvage.\n\n"
            "exit codes: 0 the file is healthy; 3 damage was found in it; 2 it could not\n"
            "be read at all; 1 usage errors (whether records came back or not).",
    },
    {
        .name = "info",
        .usage = "FILE... [--json]",
        .summary = "what a data file is, how healthy it is, and its keys",
        .handler = RunInfoCommand,
        .options = kInfoOptions,
        .optionCount = kInfoOptionCount,
        .details =
            "For each FILE: the version, layout, page size, record and slot lengths and\n"
            "the record count of every control page copy; the flags and owner\n"
            "protection; every key with its segments (1-based positions); a census of\n"
            "the pages by kind, the damaged ones counted, from the salvage page pass;\n"
            "the length of the free-slot chain and the old page copies that hold records\n"
            "(what gandrel history reads); and a verdict, with what salvage would\n"
            "recover from a damaged file.\n"
            "Nothing is written.  --json gives one array with an object per file.\n\n"
            "exit codes: 0 every file was read (healthy or damaged); 2 some file could\n"
            "not be read at all (not a data file, encrypted by its owner); 1 usage errors.",
    },
    {
        .name = "schema",
        .usage = "FILE... -o SCHEMA.json [--ddf DIR] | --ddf DIR -o SCHEMA.json",
        .summary = "a schema file drafted from the records and keys, for export --schema",
        .handler = RunSchemaCommand,
        .options = kSchemaOptions,
        .optionCount = kSchemaOptionCount,
        .details =
            "For each FILE a table of fields drafted from the file's keys and from what\n"
            "the bytes of every salvaged record show, column by column: text (string,\n"
            "zstring, lstring), integers, floats, dates, constant filler and raw bytes;\n"
            "record types where the leading byte or word splits the records into groups\n"
            "of different layouts.  Every field says what it rests on (\"evidence\").\n"
            "Fields are named by place (f0040_string) unless --ddf names them.  With\n"
            "--ddf and no FILE the dictionary itself becomes the schema.  Edit the file,\n"
            "then: gandrel export --schema SCHEMA.json -o OUT.  Data files are only read.\n\n"
            "exit codes: 0 written; 3 written, but some FILE could not be read; 2\n"
            "nothing written; 1 usage errors.",
    },
};
const int kCommandCount = sizeof kCommands / sizeof kCommands[0];
