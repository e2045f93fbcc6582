// The wizard's rules that need no window: which file names a directory run
// takes, how collected paths become relative paths and dump paths, and the
// texts of the processing page's labels.  Plain C strings in fixed buffers,
// like the Win32 side that calls them; compiled on every platform so that
// the unit tests run natively as well.
#ifndef GANDREL_WIZARD_WIZARD_RULES_H_
#define GANDREL_WIZARD_WIZARD_RULES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Every path buffer and file list slot of the wizard: the platform's
// MAX_PATH, so at most 259 characters and the terminator.
constexpr size_t kPathCapacity = 260;
constexpr size_t kMaxPathLength = kPathCapacity - 1;

// Size of the worker's buffer for one label text.
constexpr size_t kLabelCapacity = 1024;

// Paths longer than this are shown by their tail on the FileName label.
constexpr size_t kFileNameShownTail = 50;

// Captions of the processing page's labels; the label texts begin with them.
extern const char kFileNameCaption[];      // "FileName:"
extern const char kVersionCaption[];       // "Version:"
extern const char kPageSizeCaption[];      // "Page Size:"
extern const char kRecordCountCaption[];   // "Number of Records:"
extern const char kRecordLengthCaption[];  // "Fixed Record Lenght:"

// The agreement page's notice, paragraphs separated by "\n".
extern const char kAgreementNotice[];

// The source page's three choices.  Before the page is first built the mode
// is unset, and the wizard then behaves as for Single File.
enum SourceMode : uint8_t {
  kModeUnset = 0,
  kModeSingleFile = 1,
  kModeSingleDirectory = 2,
  kModeRecursive = 3,
};

// True for Single File and for the unset mode: one data file, one dump
// file, no extensions; false for the two directory modes.
inline bool IsSingleFileMode(uint8_t sourceMode) {
  return sourceMode == kModeUnset || sourceMode == kModeSingleFile;
}

// Upper-cases the ASCII letters of `text` in place, as the runtime's
// _strupr does in the "C" locale; other bytes stay as they are.
void UpperCaseInPlace(char* text);

// The name rule of a directory run.  Both texts are compared without regard
// to case.  With an extension of two or more characters a name is taken
// when the extension occurs somewhere in it and its last two characters equal
// the extension's last two.  An extension of one character takes the names
// that end with that character; an empty extension takes every name.
bool NameMatchesExtension(const char* name, const char* extension);

// Writes `directory`, a backslash and `name` into `out` (kPathCapacity
// bytes).  Returns false, with `out` empty, when the result would be longer
// than kMaxPathLength; nothing is cut short.
bool JoinPath(char* out, const char* directory, const char* name);

// The part of a collected path after the source path it was collected
// under: for the source C:\data and C:\data\sub\CUST.BTR it is \sub\CUST.BTR.
// A path that does not start with the source path is returned whole.
const char* RelativePart(const char* collectedPath, const char* sourcePath);

// The dump path of a directory run into `out` (kPathCapacity bytes):
// outputPath, a backslash only when outputPath does not end with one and
// relative does not begin with one, relative, then the extension, with a
// point put before it unless it already starts with one.  False, with `out`
// empty, when the result would be longer than kMaxPathLength.
bool BuildDumpPath(char* out, const char* outputPath, const char* relative,
                   const char* extension);

// The directories to create below outputPath so that the dump file of
// `relative` can be made: one entry per piece of relative between two
// backslashes, each the previous one (starting at outputPath) with a
// backslash unless it already ends with one, and the piece.  outputPath
// itself is not among them.
std::vector<std::string> IntermediateDirectories(const char* outputPath,
                                                 const char* relative);

// Cuts `text` right after its last backslash, which stays.  Returns false,
// with `text` unchanged, when it holds no backslash.
bool CutAfterLastBackslash(char* text);

// The dump file proposed for a single data file: the source path, a point
// and "dmp".  False, with `out` empty, when that would not fit.
bool DefaultDumpFileName(char* out, const char* sourcePath);

// The output path the output page shows, proposed in place in `outputPath`
// (kPathCapacity bytes).  Until a directory mode has set an output
// extension (`outputExtension` empty) the path is proposed afresh from the
// source each time; a path of fewer than three characters is replaced: in
// single-file mode by DefaultDumpFileName of the source (left empty when
// that does not fit), in the directory modes by the source path itself.
void ProposeOutputPath(char* outputPath, const char* outputExtension,
                       const char* sourcePath, uint8_t sourceMode);

// The digit shown for a format version ('3' to '9'), or 0 for a version the
// label does not name.
char VersionDigit(uint16_t version);

// Label texts of the processing page, written into `out` of `size` bytes
// (kLabelCapacity is always enough for paths of kMaxPathLength).
void FormatFileNameLabel(char* out, size_t size, const char* dataPath);
void FormatVersionLabel(char* out, size_t size, uint16_t version);
// caption, five blanks and the value in decimal.
void FormatNumberLabel(char* out, size_t size, const char* caption,
                       uint32_t value);

// What one run did, for the line shown when it ends.
struct RunTally {
  uint32_t dumped;          // data files read with their dump file created
  uint32_t notOpened;       // data files the reader refused, and paths
                            // skipped for being too long
  uint32_t notCreated;      // data files whose dump file could not be made
  uint32_t recordsTooLong;  // records longer than the record area, left out
  bool cancelled;
};

// "Done: 12 file(s) dumped, 1 could not be opened, 0 dump file(s) could
// not be created", "Cancelled: ..." for a cancelled run, and the records
// left out for their length when there were any.
void FormatRunSummary(char* out, size_t size, const RunTally& tally);

#endif  // GANDREL_WIZARD_WIZARD_RULES_H_
