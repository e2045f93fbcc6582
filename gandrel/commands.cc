// The subcommands of gandrel, one row each.
#include "gandrel/command_line.h"
#include "gandrel/info_command.h"
#include "gandrel/salvage_command.h"

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
            "and a verdict, with what salvage would recover from a damaged file.\n"
            "Nothing is written.  --json gives one array with an object per file.\n\n"
            "exit codes: 0 every file was read (healthy or damaged); 2 some file could\n"
            "not be read at all (not a data file, encrypted by its owner); 1 usage errors.",
    },
};
const int kCommandCount = sizeof kCommands / sizeof kCommands[0];
