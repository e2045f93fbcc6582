// gandrel info: what a data file is, how healthy it is, and its keys.
//
//   gandrel info FILE... [--json]
//
// Identity comes from the control page as the reader decodes it
// (reader/control_page.h); where that fails, from the geometry salvage
// decides (salvage/geometry.h).  Keys come from the current control page
// copy (reader/key_definitions.h).  The page census and the verdict are the
// salvage run's own (salvage/salvage.h), with the records thrown away.
#ifndef GANDREL_GANDREL_INFO_COMMAND_H_
#define GANDREL_GANDREL_INFO_COMMAND_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/json_writer.h"
#include "gandrel/command_line.h"
#include "reader/control_page.h"
#include "reader/key_definitions.h"
#include "salvage/history.h"
#include "salvage/salvage.h"

extern const CommandOption kInfoOptions[];
extern const int kInfoOptionCount;

struct FileInfo {
  std::string path;
  bool read = false;        // false: `error` says why, nothing else is meaningful
  bool encrypted = false;   // an owner name set with encrypted pages
  std::string error;

  int64_t fileSize = 0;
  // The reader's decoding of the control page; when it failed,
  // `controlProblem` says why and the identity below is salvage's.
  bool controlDecoded = false;
  std::string controlProblem;
  ControlInfo control;
  bool fcLayout = false;
  uint16_t physicalRecordLength = 0;  // word 22 as stored (0 for old
                                      // compressed files)

  // Identity as shown: from `control`, or from the salvage geometry.
  uint16_t version = 0;
  uint16_t storedVersion = 0;
  uint32_t pageSize = 0;
  uint16_t recordLength = 0;
  uint16_t slotLength = 0;
  bool recordCountKnown = false;
  uint32_t recordCount = 0;
  int currentCopy = 0;      // 1, 2, or 0 when none is sound

  KeyDecodeStatus keyStatus = kKeysNotDecoded;
  KeyDecodeReport keyReport = {};
  std::vector<KeyDefinition> keys;
  bool keysFromSalvage = false;  // decoded from the copy salvage chose

  SalvageReport salvage;    // census, record walk and verdict
  // The free-slot chain and the old page copies (salvage/history.h); set
  // when the file has a usable geometry.
  bool historyKnown = false;
  HistorySummary history;
};

// Everything `info` shows about `path`.  Never fails outright: info->read
// says whether the file could be read at all.
void GatherFileInfo(const std::string& path, FileInfo* info);

// Pages of each kind, from the salvage census: control page copies and
// map pages (or allocation tables) split by where the version keeps them.
struct PageCensus {
  uint64_t physical, control, map, data, variable, index, free, damaged;
  uint64_t currentData, currentVariable;
  // 0x0300-0x0500 headers mark data pages only: variable and index pages
  // are counted with the free ones there.
  bool variableKnown;
  bool indexKnown;
};
PageCensus CensusOf(const FileInfo& info);

// One line: "healthy", or "damaged: ..." with what salvage would recover.
std::string InfoVerdict(const FileInfo& info);

// "name: value" lines, one block per file (info_output.cc).
void PrintInfoText(const FileInfo& info, FILE* out);
// One JSON object for the file (info_output.cc).
void WriteInfoJson(const FileInfo& info, JsonWriter* writer);

// Runs info over `files` onto `out`, one line per unreadable file on `err`.
// 0 when every file was read, 2 when any could not be.
int RunInfo(const std::vector<std::string>& files, bool json, FILE* out, FILE* err);

int RunInfoCommand(const ParsedCommandLine& parsed);

#endif  // GANDREL_GANDREL_INFO_COMMAND_H_
