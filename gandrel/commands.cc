// The subcommands of gandrel, one row each.
#include "gandrel/command_line.h"
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
};
const int kCommandCount = sizeof kCommands / sizeof kCommands[0];
