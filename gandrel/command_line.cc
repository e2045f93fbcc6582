#include "gandrel/command_line.h"

#include <cstring>

#include "common/version.h"

namespace {

const CommandOption* FindLong(const CommandOption* optionRows, int count, const std::string& name) {
  for (int i = 0; i < count; ++i) {
    if (name == optionRows[i].name) return &optionRows[i];
  }
  return nullptr;
}

const CommandOption* FindShort(const CommandOption* optionRows, int count, char name) {
  for (int i = 0; i < count; ++i) {
    if (optionRows[i].shortName != 0 && optionRows[i].shortName == name) return &optionRows[i];
  }
  return nullptr;
}

}  // namespace

bool ParseCommandLine(const CommandOption* optionRows, int rowCount, int argc,
                      const char* const* argv, int first,
                      ParsedCommandLine* parsed, std::string* error) {
  bool optionsEnded = false;
  for (int i = first; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed->positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const CommandOption* option = nullptr;
    std::string value;
    bool hasInlineValue = false;
    if (arg[1] == '-') {
      const size_t eq = arg.find('=', 2);
      const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      option = FindLong(optionRows, rowCount, name);
      if (option == nullptr) {
        *error = "unknown option --" + name;
        return false;
      }
      if (eq != std::string::npos) {
        hasInlineValue = true;
        value = arg.substr(eq + 1);
      }
    } else {
      if (arg.size() != 2 || (option = FindShort(optionRows, rowCount, arg[1])) == nullptr) {
        *error = "unknown option " + arg;
        return false;
      }
    }
    const std::string shown =
        arg[1] == '-' ? std::string("--") + option->name : std::string("-") + option->shortName;
    if (option->valueName == nullptr) {
      if (hasInlineValue) {
        *error = "option " + shown + " takes no value";
        return false;
      }
    } else if (!hasInlineValue) {
      if (i + 1 >= argc) {
        *error = "option " + shown + " needs a value (" + option->valueName + ")";
        return false;
      }
      value = argv[++i];
    }
    parsed->options.emplace_back(option->name, value);
  }
  return true;
}

const std::string* FindValue(const ParsedCommandLine& parsed, const char* name) {
  const std::string* found = nullptr;
  for (const auto& option : parsed.options) {
    if (option.first == name) found = &option.second;
  }
  return found;
}

const CommandRow* FindCommand(const char* name) {
  for (int i = 0; i < kCommandCount; ++i) {
    if (strcmp(kCommands[i].name, name) == 0) return &kCommands[i];
  }
  return nullptr;
}

void PrintProgramUsage(FILE* out) {
  fprintf(out,
          "usage: gandrel COMMAND [ARGS...]\n"
          "       gandrel help COMMAND | --help | --version\n\n"
          "Reads Btrieve data files straight from disk, never writing to them.\n\n"
          "commands:\n");
  for (int i = 0; i < kCommandCount; ++i) {
    fprintf(out, "  %-10s %s\n", kCommands[i].name, kCommands[i].summary);
  }
}

void PrintCommandUsage(const CommandRow& row, FILE* out) {
  fprintf(out, "usage: gandrel %s %s\n\n%s\n", row.name, row.usage, row.summary);
  if (row.details != nullptr) fprintf(out, "\n%s\n", row.details);
  if (row.optionCount > 0) fprintf(out, "\noptions:\n");
  for (int i = 0; i < row.optionCount; ++i) {
    const CommandOption& option = row.options[i];
    std::string left = "--" + std::string(option.name);
    if (option.shortName != 0) left = std::string("-") + option.shortName + ", " + left;
    if (option.valueName != nullptr) left += std::string(" ") + option.valueName;
    fprintf(out, "  %-26s %s\n", left.c_str(), option.help);
  }
}

int RunGandrel(int argc, const char* const* argv) {
  if (argc < 2) {
    PrintProgramUsage(stderr);
    return kExitUsage;
  }
  const std::string first = argv[1];
  if (first == "--help" || first == "-h") {
    PrintProgramUsage(stdout);
    return kExitOk;
  }
  if (first == "--version") {
    printf("gandrel %s\n", GANDREL_VERSION_STRING);
    return kExitOk;
  }
  if (first == "help") {
    if (argc < 3) {
      PrintProgramUsage(stdout);
      return kExitOk;
    }
    const CommandRow* row = FindCommand(argv[2]);
    if (row == nullptr) {
      fprintf(stderr, "gandrel: unknown command '%s' (see gandrel --help)\n", argv[2]);
      return kExitUsage;
    }
    PrintCommandUsage(*row, stdout);
    return kExitOk;
  }
  const CommandRow* row = FindCommand(argv[1]);
  if (row == nullptr) {
    fprintf(stderr, "gandrel: unknown command '%s' (see gandrel --help)\n", argv[1]);
    return kExitUsage;
  }
  // "gandrel CMD --help" is help for that command, whatever else is given.
  for (int i = 2; i < argc; ++i) {
    if (strcmp(argv[i], "--") == 0) break;
    if (strcmp(argv[i], "--help") == 0) {
      PrintCommandUsage(*row, stdout);
      return kExitOk;
    }
  }
  ParsedCommandLine parsed;
  std::string error;
  if (!ParseCommandLine(row->options, row->optionCount, argc, argv, 2, &parsed, &error)) {
    fprintf(stderr, "gandrel %s: %s\n", row->name, error.c_str());
    return kExitUsage;
  }
  return row->handler(parsed);
}
