#include "gandrel/info_command.h"

#include <cstring>
#include <filesystem>

#include "reader/datafile.h"
#include "reader/format.h"
#include "reader/input_stream.h"
#include "reader/page_geometry.h"
#include "reader/v8_layout.h"
#include "reader/version_rules.h"

const CommandOption kInfoOptions[] = {
    {"json", 0, nullptr, "one JSON array, an object per file, for scripts"},
};
const int kInfoOptionCount = sizeof kInfoOptions / sizeof kInfoOptions[0];

namespace {

constexpr char kEncryptedLine[] =
    "encrypted with an owner name; it cannot be read without the engine";

// An owner mode that asks for encryption is only a claim; the reader weighs
// it against the pages at open and refuses the file when they read as
// noise.  True when it does.
bool ReaderFindsEncrypted(const std::string& path) {
  bool encrypted = false;
  ReaderReporter reporter{[](void* context, const ReaderEvent& event) {
                            if (event.kind == ReaderEventKind::FileEncrypted) {
                              *static_cast<bool*>(context) = true;
                            }
                          },
                          &encrypted};
  DataFile dataFile = {};
  const ReaderStatus status =
      OpenDataFile(path.c_str(), &dataFile, ReaderVariant::Console, &reporter);
  CloseDataFile(&dataFile, status);
  return encrypted;
}

// The control page as the reader decodes it at open (reader/datafile.cc),
// and the current copy's bytes for the keys.  False with
// info->controlProblem set when the control page cannot be decoded.
bool DecodeControl(InputFile* input, FileInfo* info, std::vector<uint8_t>* current) {
  uint8_t copy1[kControlBytesMost] = {};
  const uint32_t got = ReadInputAt(input, 0, copy1, sizeof copy1);
  if (got < kControlBytesConsole) {
    info->controlProblem = "shorter than a control page";
    return false;
  }
  ControlInfo& c = info->control;
  if (DecodeLayout(copy1, &c) != kReaderOk) {
    info->controlProblem = "no control page signature at offset 0";
    return false;
  }
  info->fcLayout = c.fcLayout;
  const VersionRules* rules = FindVersionRules(c.version);
  if (rules == nullptr) {
    char text[80];
    snprintf(text, sizeof text, "version word 0x%04x is not a version the reader knows",
             c.storedVersion);
    info->controlProblem = text;
    return false;
  }
  uint8_t copy2[kControlBytesMost] = {};
  ReaderStatus status;
  int64_t secondOffset = 0;
  if (ChoosesActiveCopy(rules->control)) {
    const uint32_t copyBytes = V8CopyBytes(copy1);
    if (got < kV8ControlBytes || copyBytes == 0) {
      info->controlProblem = "the page size byte names no page size of the format";
      return false;
    }
    secondOffset = copyBytes;
    const bool haveCopy2 = ReadInputAt(input, copyBytes, copy2, kV8ControlBytes) == kV8ControlBytes;
    status = DecodeV8Control(copy1, haveCopy2 ? copy2 : nullptr, &c);
  } else {
    // A copy 2 cut off is left out: the reader refuses such a file, info
    // still shows what copy 1 says.
    const uint8_t* second = nullptr;
    const uint32_t pageSize = OldPageSize(copy1);
    secondOffset = static_cast<int64_t>(rules->secondCopyPage) * pageSize;
    if (rules->secondCopyPage != 0 && pageSize >= kMinPageSize &&
        ReadInputAt(input, secondOffset, copy2, sizeof copy2) >= kControlBytesConsole) {
      second = copy2;
    }
    status = DecodeOldControl(*rules, copy1, second, &c);
  }
  if (status != kReaderOk) {
    info->controlProblem = "page size or slot length out of range";
    return false;
  }
  // The keys live in the current copy, as long as the version keeps it.
  const size_t length = KeyControlBytes(c.version, c.pageSize);
  current->assign(length, 0);
  const int64_t at = c.currentCopy == 2 ? secondOffset : 0;
  current->resize(length == 0 ? 0 : ReadInputAt(input, at, current->data(),
                                                 static_cast<uint32_t>(length)));
  // Below 0x0800 every field but the count is copy 1's.
  info->physicalRecordLength = c.storedRecordLength;
  return true;
}

void TakeIdentity(FileInfo* info) {
  const Geometry& g = info->salvage.geometry;
  if (info->controlDecoded) {
    const ControlInfo& c = info->control;
    info->version = c.version;
    info->storedVersion = c.storedVersion;
    info->pageSize = c.pageSize;
    info->recordLength = c.recordLength;
    info->slotLength = c.slotLength;
    info->recordCountKnown = true;
    info->recordCount = c.recordCount;
    info->currentCopy = c.currentCopy;
    return;
  }
  const ControlCopy& copy = g.copies[g.chosenCopy == 2 ? 1 : 0];
  info->version = g.version;
  info->storedVersion = g.version;
  info->pageSize = g.pageSize;
  info->recordLength = g.recordLength;
  info->physicalRecordLength = g.chosenCopy != 0 ? copy.recordLength : g.recordLength;
  info->slotLength = g.slotLength;
  info->recordCountKnown = g.recordCountKnown;
  info->recordCount = g.recordCount;
  info->currentCopy = g.chosenCopy;
  info->fcLayout = copy.fcLayout;
}

// Copy 1 damaged and copy 2 sound: the keys of the copy salvage chose.
void DecodeKeysOfChosenCopy(const std::string& path, FileInfo* info) {
  const Geometry& g = info->salvage.geometry;
  if (g.chosenCopy == 0) return;
  InputFile input;
  std::string error;
  if (!OpenInputFile(path.c_str(), &input, &error)) return;
  std::vector<uint8_t> bytes(KeyControlBytes(g.version, g.pageSize));
  bytes.resize(ReadInputAt(&input, g.copies[g.chosenCopy - 1].offset, bytes.data(),
                           static_cast<uint32_t>(bytes.size())));
  CloseInputFile(&input);
  info->keyStatus =
      DecodeKeyDefinitions(bytes.data(), bytes.size(), g.version, &info->keys, &info->keyReport);
  info->keysFromSalvage = true;
}

}  // namespace

void GatherFileInfo(const std::string& path, FileInfo* info) {
  *info = FileInfo{};
  info->path = path;
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    info->error = "is a directory";
    return;
  }
  InputFile input;
  if (!OpenInputFile(path.c_str(), &input, &info->error)) return;
  info->fileSize = input.size;
  std::vector<uint8_t> current;
  info->controlDecoded = DecodeControl(&input, info, &current);
  CloseInputFile(&input);
  if (info->controlDecoded && info->control.encrypted && ReaderFindsEncrypted(path)) {
    info->encrypted = true;
    info->error = kEncryptedLine;
    return;
  }
  if (info->controlDecoded) {
    info->keyStatus = DecodeKeyDefinitions(current.data(), current.size(), info->control.version,
                                           &info->keys, &info->keyReport);
  }

  // The salvage run with its records thrown away: its page pass is the
  // census, its record walk counts what the sound pages hold.  Nothing
  // kept is nothing to take back, so fixed-length records are counted as
  // the pass reads their pages.
  RecordSinkFunction discard;
  discard.restart = [](void*) { return true; };
  SalvageFile(path.c_str(), GeometryOverrides{}, discard, &info->salvage);
  const Geometry& g = info->salvage.geometry;
  // The chosen copy claims encryption and the pages bore it out.
  if (g.chosenCopy != 0 && g.copies[g.chosenCopy - 1].encrypted && !g.usable) {
    info->encrypted = true;
    info->error = kEncryptedLine;
    return;
  }
  if (!info->controlDecoded && !g.usable) {
    info->error = "not readable as a data file: " + info->controlProblem +
                  (g.problem.empty() ? "" : "; " + g.problem);
    return;
  }
  info->read = true;
  if (g.usable) info->historyKnown = SummarizeHistory(path.c_str(), GeometryOverrides{}, &info->history);
  TakeIdentity(info);
  if (!info->controlDecoded) DecodeKeysOfChosenCopy(path, info);
}

PageCensus CensusOf(const FileInfo& info) {
  const PageCounts& p = info.salvage.pages;
  const Geometry& g = info.salvage.geometry;
  PageCensus c = {};
  c.physical = p.physical;
  // The control page copies lie at the front: one page below 0x0600, two
  // from 0x0600, two copies of F bytes from 0x0800.  The other reserved
  // pages are the page map or the allocation tables.
  uint64_t control = 0;
  if (g.layout != nullptr && g.pageSize != 0) {
    control = ControlCopyPages(PageGeometryOf(*g.layout, g.pageSize, g.controlCopyBytes));
  }
  c.control = control < p.reserved ? control : p.reserved;
  c.map = p.reserved - c.control;
  c.data = p.data;
  c.variable = p.variable;
  c.index = p.index;
  c.free = p.other - p.index;
  c.damaged = p.implausible + p.unreadable;
  c.currentData = p.currentData;
  c.currentVariable = p.currentVariable;
  c.indexKnown = g.layout != nullptr && g.layout->kind != KindRule::Bit15AtOffset4;
  c.variableKnown = c.indexKnown;
  return c;
}

std::string InfoVerdict(const FileInfo& info) {
  const SalvageReport& r = info.salvage;
  if (r.status == kSalvageHealthy) return "healthy";
  if (!r.geometry.usable) return "damaged: salvage finds no geometry (" + r.error + ")";
  std::string text = "damaged: salvage would recover " + std::to_string(r.recordsSalvaged) +
                     " records";
  if (r.geometry.recordCountKnown) {
    text += " of the " + std::to_string(r.geometry.recordCount) + " the header counts";
  }
  const uint64_t skipped = r.skippedPages.size() + r.skippedNotListed;
  const uint64_t broken = r.brokenChains.size() + r.brokenNotListed;
  if (skipped > 0) text += ", " + std::to_string(skipped) + " pages skipped";
  if (broken > 0) text += ", " + std::to_string(broken) + " broken chains";
  if (!r.notes.empty()) text += "; " + r.notes.front();
  return text;
}

int RunInfo(const std::vector<std::string>& files, bool json, FILE* out, FILE* err) {
  int code = kExitOk;
  JsonWriter writer = {};
  if (json) JsonBeginArray(&writer);
  bool first = true;
  for (const std::string& file : files) {
    FileInfo info;
    GatherFileInfo(file, &info);
    if (!info.read) {
      fprintf(err, "gandrel info: %s: %s\n", file.c_str(), info.error.c_str());
      code = kExitNothing;
    }
    if (json) {
      WriteInfoJson(info, &writer);
    } else if (info.read) {
      if (!first) fprintf(out, "\n");
      PrintInfoText(info, out);
      first = false;
    }
  }
  if (json) {
    JsonEndArray(&writer);
    fprintf(out, "%s\n", writer.text.c_str());
  }
  return code;
}

int RunInfoCommand(const ParsedCommandLine& parsed) {
  if (parsed.positional.empty()) {
    fprintf(stderr, "gandrel info: no data file given\n");
    return kExitUsage;
  }
  return RunInfo(parsed.positional, FindValue(parsed, "json") != nullptr, stdout, stderr);
}
