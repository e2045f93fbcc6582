#include "wizard/wizard_rules.h"

#include <cstdio>
#include <cstring>

const char kFileNameCaption[] = "FileName:";
const char kVersionCaption[] = "Version:";
const char kPageSizeCaption[] = "Page Size:";
const char kRecordCountCaption[] = "Number of Records:";
const char kRecordLengthCaption[] = "Fixed Record Lenght:";

const char kAgreementNotice[] =
    "Please read the following statements carefully before you use "
    "Visual Gandrel.\n"
    "\n"
    "Visual Gandrel is meant for very experienced software developers and "
    "system administrators. It reads Btrieve data files directly from disk "
    "and writes their records to dump files.\n"
    "\n"
    "Do not use it in a productive environment without heavy testing. Work "
    "on copies of your data files.\n"
    "\n"
    "Visual Gandrel is provided as is, without warranty of any kind. Its "
    "makers accept no liability for lost data or any damage arising from its "
    "use. All rights reserved.\n"
    "\n"
    "By pressing the I Agree button you accept these terms and conditions.";

namespace {

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualNoCase(char a, char b) { return UpperAscii(a) == UpperAscii(b); }

// strstr without regard to ASCII case.
bool ContainsNoCase(const char* text, const char* part) {
  size_t partLength = std::strlen(part);
  size_t textLength = std::strlen(text);
  if (partLength > textLength) return false;
  for (size_t start = 0; start + partLength <= textLength; ++start) {
    size_t i = 0;
    while (i < partLength && EqualNoCase(text[start + i], part[i])) ++i;
    if (i == partLength) return true;
  }
  return false;
}

// Copies `text` into `out` when it fits a path buffer; empties `out` and
// returns false otherwise.
bool StoreIfFits(char* out, const std::string& text) {
  if (text.size() > kMaxPathLength) {
    out[0] = '\0';
    return false;
  }
  std::memcpy(out, text.c_str(), text.size() + 1);
  return true;
}

bool EndsWithBackslash(const char* text) {
  size_t length = std::strlen(text);
  return length > 0 && text[length - 1] == '\\';
}

}  // namespace

void UpperCaseInPlace(char* text) {
  for (; *text != '\0'; ++text) *text = UpperAscii(*text);
}

bool NameMatchesExtension(const char* name, const char* extension) {
  size_t nameLength = std::strlen(name);
  size_t extensionLength = std::strlen(extension);
  // The two-character comparison below has nothing to compare for shorter
  // extensions: an empty one means "every file", a single character must
  // end the name.
  if (extensionLength == 0) return true;
  if (nameLength == 0) return false;
  if (extensionLength == 1) return EqualNoCase(name[nameLength - 1], extension[0]);
  if (!ContainsNoCase(name, extension)) return false;
  // The extension occurs in the name, so the name has at least two
  // characters here.
  return EqualNoCase(name[nameLength - 1], extension[extensionLength - 1]) &&
         EqualNoCase(name[nameLength - 2], extension[extensionLength - 2]);
}

bool JoinPath(char* out, const char* directory, const char* name) {
  std::string joined = directory;
  joined += '\\';
  joined += name;
  return StoreIfFits(out, joined);
}

const char* RelativePart(const char* collectedPath, const char* sourcePath) {
  size_t sourceLength = std::strlen(sourcePath);
  if (std::strncmp(collectedPath, sourcePath, sourceLength) != 0) return collectedPath;
  return collectedPath + sourceLength;
}

bool BuildDumpPath(char* out, const char* outputPath, const char* relative,
                   const char* extension) {
  std::string path = outputPath;
  if (!EndsWithBackslash(outputPath) && relative[0] != '\\') path += '\\';
  path += relative;
  if (extension[0] != '.') path += '.';
  path += extension;
  return StoreIfFits(out, path);
}

std::vector<std::string> IntermediateDirectories(const char* outputPath,
                                                 const char* relative) {
  std::vector<std::string> directories;
  std::string directory = outputPath;
  // Each piece ends at a backslash; the last piece (the file name) has none
  // after it and is not a directory.
  const char* piece = relative;
  while (const char* end = std::strchr(piece, '\\')) {
    if (end > piece) {
      if (directory.empty() || directory.back() != '\\') directory += '\\';
      directory.append(piece, static_cast<size_t>(end - piece));
      directories.push_back(directory);
    }
    piece = end + 1;
  }
  return directories;
}

bool CutAfterLastBackslash(char* text) {
  char* last = std::strrchr(text, '\\');
  if (last == nullptr) return false;
  last[1] = '\0';
  return true;
}

bool DefaultDumpFileName(char* out, const char* sourcePath) {
  std::string name = sourcePath;
  name += ".dmp";
  return StoreIfFits(out, name);
}

void ProposeOutputPath(char* outputPath, const char* outputExtension,
                       const char* sourcePath, uint8_t sourceMode) {
  if (outputExtension[0] == '\0') outputPath[0] = '\0';
  if (std::strlen(outputPath) >= 3) return;
  if (IsSingleFileMode(sourceMode)) {
    DefaultDumpFileName(outputPath, sourcePath);
  } else {
    // The source path as a string: no bytes read beyond its end.
    size_t n = 0;
    while (n + 1 < kPathCapacity && sourcePath[n] != '\0') ++n;
    std::memmove(outputPath, sourcePath, n);
    outputPath[n] = '\0';
  }
}

char VersionDigit(uint16_t version) {
  switch (version) {
    case 0x0300: return '3';
    case 0x0400: return '4';
    case 0x0500: return '5';
    case 0x0600:
    case 0x0610: return '6';
    case 0x0700: return '7';
    case 0x0800: return '8';
    case 0x0900:
    case 0x0950: return '9';
    default: return 0;
  }
}

void FormatFileNameLabel(char* out, size_t size, const char* dataPath) {
  size_t length = std::strlen(dataPath);
  if (length > kFileNameShownTail) {
    std::snprintf(out, size, "%s  ...%s             ", kFileNameCaption,
                  dataPath + (length - kFileNameShownTail));
  } else {
    std::snprintf(out, size, "%s     %s             ", kFileNameCaption, dataPath);
  }
}

void FormatVersionLabel(char* out, size_t size, uint16_t version) {
  char digit = VersionDigit(version);
  if (digit != 0) {
    std::snprintf(out, size, "%s     %c", kVersionCaption, digit);
  } else {
    std::snprintf(out, size, "%s     ", kVersionCaption);
  }
}

void FormatNumberLabel(char* out, size_t size, const char* caption,
                       uint32_t value) {
  std::snprintf(out, size, "%s     %u", caption, static_cast<unsigned>(value));
}

void FormatRunSummary(char* out, size_t size, const RunTally& tally) {
  int written = std::snprintf(
      out, size,
      "%s: %u file(s) dumped, %u could not be opened, %u dump file(s) could "
      "not be created",
      tally.cancelled ? "Cancelled" : "Done", static_cast<unsigned>(tally.dumped),
      static_cast<unsigned>(tally.notOpened), static_cast<unsigned>(tally.notCreated));
  if (tally.recordsTooLong > 0 && written > 0 && static_cast<size_t>(written) < size) {
    std::snprintf(out + written, size - static_cast<size_t>(written),
                  ", %u record(s) too long to dump",
                  static_cast<unsigned>(tally.recordsTooLong));
  }
}
