#include "console/options.h"

#include <cstdlib>
#include <cstring>

#include "dump/crc32.h"
#include "dump/dump_writer.h"

namespace {

constexpr char kProgramVersion[] = "\"0.1";
constexpr char kDefaultOutputPath[] = "zelmarout.log";

// Stores a path of 1..kMaxPathLength characters whole; anything else is
// refused with the given messages.
int SetPath(const char* value, char* destination, const char* emptyMessage,
            const char* tooLongMessage) {
  const size_t length = strlen(value);
  if (length == 0) {
    printf("%s", emptyMessage);
    return 0;
  }
  if (length > kMaxPathLength) {
    printf("%s", tooLongMessage);
    return 0;
  }
  memcpy(destination, value, length + 1);
  return 1;
}

// Compares `value` upper-cased (ASCII letters only) with `upper`.
bool EqualsUpperCased(const char* value, const char* upper) {
  size_t i = 0;
  for (; value[i] != '\0' && upper[i] != '\0'; ++i) {
    char c = value[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != upper[i]) return false;
  }
  return value[i] == '\0' && upper[i] == '\0';
}

}  // namespace

const OptionRow kOptionRows[kOptionCount] = {
    {"btrin", "\tfile to extract", nullptr, 0, SetInputFile,
     "No input file name provided\n"},
    {"btrout", "file to save data to", kDefaultOutputPath, 1, SetOutputFile,
     "No output file name provided\n"},
    {"format",
     "output format\n"
     "1 - BUTIL save format\n"
     "2 - BUTIL format without len\n"
     "3 - HEX dump including leading CRC\n"
     "4 - pur HEX dump\n",
     "1", 2, SetFormat, "Invalid format specified\n"},
    {"silent", "silent mode true or false", nullptr, 3, SetSilent,
     "Invalid silent mode specified\n"},
};

const OptionRow* FindOption(const char* name) {
  for (const OptionRow& row : kOptionRows) {
    if (strcmp(row.name, name) == 0) return &row;
  }
  return nullptr;
}

int SetInputFile(const char* value, ConsoleSettings* settings) {
  return SetPath(value, settings->inputPath, "No input file name provided\n",
                 "Invalid input file name (to long?)\n");
}

int SetOutputFile(const char* value, ConsoleSettings* settings) {
  return SetPath(value, settings->outputPath, "No output file name provided\n",
                 "Invalid output file name (to long?)\n");
}

int SetFormat(const char* value, ConsoleSettings* settings) {
  const char c = value[0];
  if (c < kConsoleFormatButil || c > kConsoleFormatHex || value[1] != '\0') {
    printf("Invalid format specified\n");
    return 0;
  }
  settings->format = c;
  if (c == kConsoleFormatHexCrc) BuildCrcTable();
  return 1;
}

int SetSilent(const char* value, ConsoleSettings* settings) {
  // Zero or one character, whatever it is, means "not silent": "-silent 1"
  // switches silent mode off.
  if (value[0] == '\0' || value[1] == '\0') {
    settings->silent = false;
    return 1;
  }
  if (EqualsUpperCased(value, "TRUE")) {
    settings->silent = true;
    return 1;
  }
  if (EqualsUpperCased(value, "FALSE")) {
    settings->silent = false;
    return 1;
  }
  printf("Invalid silent mode specified\n");
  return 0;
}

bool ParseOptions(char* const* argv, ConsoleSettings* settings) {
  *settings = ConsoleSettings{};
  for (const OptionRow& row : kOptionRows) {
    if (row.defaultValue != nullptr && row.setter != nullptr) {
      row.setter(row.defaultValue, settings);
    }
  }

  if (argv == nullptr || argv[0] == nullptr) return true;
  for (size_t k = 1; argv[k] != nullptr && argv[k][0] == '-'; k += 2) {
    const char* name = argv[k] + 1;
    const OptionRow* row = FindOption(name);
    if (row == nullptr) {
      printf("%s: No such option: [%s]", "set_option", name);
      return false;
    }
    // A name with nothing behind it never reaches the setter; it is reported
    // the way an empty value would be.
    const char* value = argv[k + 1];
    if (value == nullptr) {
      printf("%s", row->missingValueMessage);
      printf("%s(%s): failure", "set_option", row->name);
      return false;
    }
    if (row->setter(value, settings) != 1) {
      printf("%s(%s): failure", "set_option", row->name);
      return false;
    }
  }
  return true;
}

void set_option(char* const* argv, ConsoleSettings* settings) {
  if (!ParseOptions(argv, settings)) exit(1);
}

void PrintUsage(FILE* stream) {
  fprintf(stderr, "Gandrel version %s\n", kProgramVersion);
  fprintf(stderr, "usage: pagrove [options] \n");
  for (const OptionRow& row : kOptionRows) {
    fprintf(stream, "  -%s\t%s", row.name, row.description);
    if (row.defaultValue != nullptr) {
      fprintf(stream, " (default: \"%s\")", row.defaultValue);
    }
    fprintf(stream, "\n");
  }
  fprintf(stderr, "\nexample: pagrove -btrin myfile.btr -btrout dump.hex -format 3\n");
}
