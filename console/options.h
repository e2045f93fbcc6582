// Command-line options of pagrove: the option table, its four setters, the
// parser and the usage text.
//
// Every option is two arguments, "-name value".  The table is the one place
// that knows the options: lookup, defaults and the usage lines all come from
// it, in table order.
#ifndef GANDREL_CONSOLE_OPTIONS_H_
#define GANDREL_CONSOLE_OPTIONS_H_

#include <cstdio>

// Longest path kept for -btrin and -btrout.
constexpr size_t kMaxPathLength = 256;

// The run's option values; fixed once set_option has returned.
struct ConsoleSettings {
  char inputPath[kMaxPathLength + 1];   // -btrin; empty until given
  char outputPath[kMaxPathLength + 1];  // -btrout; default "zelmarout.log"
  char format;                          // -format, '1'..'4'; default '1'
  bool silent;                          // -silent; default false
};

// Checks one value; on acceptance stores it in `settings` and returns 1, on
// rejection prints its own message on stdout and returns 0.
using OptionSetter = int (*)(const char* value, ConsoleSettings* settings);

struct OptionRow {
  const char* name;          // option name without its '-'
  const char* description;   // usage text after the name and a tab
  const char* defaultValue;  // applied before parsing; null for none
  int id;                    // the row's number, 0..3
  OptionSetter setter;
  // Printed when the option is the last argument and has no value; worded
  // like the setter's message for an empty value.
  const char* missingValueMessage;
};

constexpr int kOptionCount = 4;
extern const OptionRow kOptionRows[kOptionCount];

// Row whose name equals `name` exactly (case-sensitive), or null.
const OptionRow* FindOption(const char* name);

int SetInputFile(const char* value, ConsoleSettings* settings);
int SetOutputFile(const char* value, ConsoleSettings* settings);
// Accepts exactly one of "1".."4"; "3" also builds the CRC table.
int SetFormat(const char* value, ConsoleSettings* settings);
// Case-insensitive "true"/"false"; a value of at most one character is
// accepted and means false.
int SetSilent(const char* value, ConsoleSettings* settings);

// Applies the defaults to `settings` (emptied first), then walks `argv`
// (null-terminated, argv[0] the program name) in name/value pairs until an
// argument that does not begin with '-'.  Returns true when every option was
// accepted.  On an unknown option or a rejected value it prints the messages
// on stdout (the last one without a line end) and returns false.
bool ParseOptions(char* const* argv, ConsoleSettings* settings);

// ParseOptions, ending the process with exit code 1 when it fails.
void set_option(char* const* argv, ConsoleSettings* settings);

// The usage text: the program line, the usage line, the example and the
// blank line before it go to stderr; the option lines go to `stream`.
void PrintUsage(FILE* stream);

#endif  // GANDREL_CONSOLE_OPTIONS_H_
