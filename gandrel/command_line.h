// The command line of gandrel: a table of subcommands, each with a table of
// options, and a parser that can be called from a test without starting a
// process.
//
//   gandrel --help | --version | help CMD | CMD ARGS...
//
// Options are long ("--name", "--name=value", "--name value"); an option row
// may also have a one-letter short form ("-o value").  Every argument that is
// not an option (or an option's value) is a positional argument.  "--" ends
// the options: everything after it is positional.
#ifndef GANDREL_GANDREL_COMMAND_LINE_H_
#define GANDREL_GANDREL_COMMAND_LINE_H_

#include <cstdio>
#include <string>
#include <vector>

struct CommandOption {
  const char* name;       // long name without "--"
  char shortName;         // 0: none
  const char* valueName;  // null: a flag without a value
  const char* help;
};

struct ParsedCommandLine {
  std::vector<std::string> positional;
  // One entry per option given, in order; flags have an empty value.  A
  // repeated option keeps its last value (FindValue).
  std::vector<std::pair<std::string, std::string>> options;
};

// Parses argv[first..argc) against `optionRows`.  True on success; on failure
// `error` holds one line naming what was wrong (no line end).
bool ParseCommandLine(const CommandOption* optionRows, int rowCount, int argc,
                      const char* const* argv, int first,
                      ParsedCommandLine* parsed, std::string* error);

// Last value given for option `name`, or null when it was not given.
const std::string* FindValue(const ParsedCommandLine& parsed, const char* name);

struct CommandRow {
  const char* name;
  const char* usage;    // arguments after the name, for the usage line
  const char* summary;  // one line for "gandrel --help"
  // Runs the subcommand; returns the process exit code.
  int (*handler)(const ParsedCommandLine& parsed);
  const CommandOption* options;
  int optionCount;
  const char* details;  // paragraph for "gandrel help CMD", may be null
};

// The subcommands, in the order the usage text lists them (commands.cc).
extern const CommandRow kCommands[];
extern const int kCommandCount;

const CommandRow* FindCommand(const char* name);

// Exit codes shared by all subcommands.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitNothing = 2;
constexpr int kExitDamaged = 3;

// Whole program: dispatches to a row of kCommands.  Usage errors print one
// line on stderr and return kExitUsage.
int RunGandrel(int argc, const char* const* argv);

// Usage texts (for --help and help CMD) written to `out`.
void PrintProgramUsage(FILE* out);
void PrintCommandUsage(const CommandRow& row, FILE* out);

#endif  // GANDREL_GANDREL_COMMAND_LINE_H_
