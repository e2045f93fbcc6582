// gandrel salvage: the handler and its option rows.
#ifndef GANDREL_GANDREL_SALVAGE_COMMAND_H_
#define GANDREL_GANDREL_SALVAGE_COMMAND_H_

#include <string>
#include <vector>

#include "gandrel/command_line.h"
#include "salvage/geometry.h"

extern const CommandOption kSalvageOptions[];
extern const int kSalvageOptionCount;

// The run's settings, checked; `error` names the first bad one.
struct SalvageSettings {
  std::vector<std::string> files;
  std::string output;
  std::string report;  // empty: no report
  std::string keepDoubtful;  // empty: records the gate holds back are only counted
  char format = '1';   // console dump format '1'..'4'
  bool quiet = false;
  GeometryOverrides overrides;
};

bool ReadSalvageSettings(const ParsedCommandLine& parsed, SalvageSettings* settings,
                         std::string* error);

int RunSalvageCommand(const ParsedCommandLine& parsed);


#endif  // GANDREL_GANDREL_SALVAGE_COMMAND_H_
