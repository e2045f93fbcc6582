// The run of pagrove, from the command line to the key prompt: one data file
// dumped into one dump file.
#ifndef GANDREL_CONSOLE_DRIVER_H_
#define GANDREL_CONSOLE_DRIVER_H_

#include <cstdint>

// Size of the record area that every record is read into.
constexpr uint32_t kRecordAreaSize = 64000;

// Runs the whole program and returns its exit code: 1 when the usage text
// was printed or the dump file could not be written completely, 0 on every
// other path past option parsing.  Option errors and signals end the
// process from inside with exit code 1.
int RunPagrove(int argc, char** argv);

#endif  // GANDREL_CONSOLE_DRIVER_H_
