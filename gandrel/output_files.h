// What every command that writes files shares: output names for several
// data files, the guard that keeps the data file from being written, and a
// whole text file written at once.
#ifndef GANDREL_GANDREL_OUTPUT_FILES_H_
#define GANDREL_GANDREL_OUTPUT_FILES_H_

#include <string>
#include <vector>

// The output names of `files`: each file's name, with -2, -3, ... for a
// name met again (two files of one name from different folders).
std::vector<std::string> OutputNames(const std::vector<std::string>& files);

// True (with a line on stderr from `command`) when `out` is the data file
// `file` itself: the data file is never written.
bool NamesTheDataFile(const char* command, const std::string& file, const std::string& out);

// Writes `text` to the file `path` (created or emptied); false when that
// fails.
bool WriteTextFile(const std::string& path, const std::string& text);

#endif  // GANDREL_GANDREL_OUTPUT_FILES_H_
