#include "dump/dump_writer.h"

#include <cstring>

#include "dump/crc32.h"

namespace {

// What stands before the record's data in an entry.
enum class EntryPrefix : uint8_t { None, DecimalLength, DecimalCrc, HexCrc };
// How the record's data is written.
enum class EntryBody : uint8_t { Raw, Hex };

struct EntryLayout {
  EntryPrefix prefix;
  EntryBody body;
};

constexpr char kHexDigits[] = "0123456789abcdef";

// Writes one entry piece by piece, formatting each piece into `scratch`
// (at least 16 bytes) as a terminated string first.
void WriteEntry(const EntryLayout& layout, uint32_t length,
                const uint8_t* bytes, char* scratch, size_t scratchSize,
                FILE* file) {
  int prefixLength = 0;
  switch (layout.prefix) {
    case EntryPrefix::None:
      break;
    case EntryPrefix::DecimalLength:
      prefixLength = snprintf(scratch, scratchSize, "%u,", length);
      break;
    case EntryPrefix::DecimalCrc:
      prefixLength = snprintf(scratch, scratchSize, "%u,",
                              static_cast<unsigned>(Crc32(length, bytes)));
      break;
    case EntryPrefix::HexCrc:
      prefixLength = snprintf(scratch, scratchSize, "%02x:",
                              static_cast<unsigned>(Crc32(length, bytes)));
      break;
  }
  if (prefixLength > 0) fwrite(scratch, 1, static_cast<size_t>(prefixLength), file);

  if (layout.body == EntryBody::Raw) {
    if (length > 0) fwrite(bytes, 1, length, file);
  } else {
    for (uint32_t i = 0; i < length; ++i) {
      scratch[0] = kHexDigits[bytes[i] >> 4];
      scratch[1] = kHexDigits[bytes[i] & 0x0F];
      scratch[2] = '\0';
      fwrite(scratch, 1, 2, file);
    }
  }

  memcpy(scratch, "\r\n", 3);
  fwrite(scratch, 1, 2, file);
}

// Layout of a console format; false for a character outside '1'..'4'.
bool ConsoleLayout(char format, EntryLayout* layout) {
  switch (format) {
    case kConsoleFormatButil:
      *layout = {EntryPrefix::DecimalLength, EntryBody::Raw};
      return true;
    case kConsoleFormatButilNoLen:
      *layout = {EntryPrefix::None, EntryBody::Raw};
      return true;
    case kConsoleFormatHexCrc:
      *layout = {EntryPrefix::HexCrc, EntryBody::Hex};
      return true;
    case kConsoleFormatHex:
      *layout = {EntryPrefix::None, EntryBody::Hex};
      return true;
    default:
      return false;
  }
}

// Layout of a wizard format; false for a number outside 1..6.
bool WizardLayout(uint8_t format, EntryLayout* layout) {
  static constexpr EntryLayout kWizardLayouts[] = {
      {EntryPrefix::None, EntryBody::Raw},           // 1 Binary
      {EntryPrefix::DecimalLength, EntryBody::Raw},  // 2 Binary + length
      {EntryPrefix::DecimalCrc, EntryBody::Raw},     // 3 Binary + CRC
      {EntryPrefix::None, EntryBody::Hex},           // 4 HEX
      {EntryPrefix::DecimalLength, EntryBody::Hex},  // 5 HEX + length
      {EntryPrefix::HexCrc, EntryBody::Hex},         // 6 HEX + CRC
  };
  if (format < kWizardFormatBinary || format > kWizardFormatHexCrc) return false;
  *layout = kWizardLayouts[format - 1];
  return true;
}

}  // namespace

void WriteDumpRecord(DumpOutput* output, uint32_t length, const uint8_t* bytes) {
  EntryLayout layout;
  if (output == nullptr || output->outputFile == nullptr ||
      output->textBuffer == nullptr || !ConsoleLayout(output->format, &layout)) {
    return;
  }
  WriteEntry(layout, length, bytes, output->textBuffer, kDumpTextBufferSize,
             output->outputFile);
}

void WriteDumpTrailer(DumpOutput* output) {
  if (output == nullptr || output->outputFile == nullptr ||
      output->textBuffer == nullptr) {
    return;
  }
  if (output->format != kConsoleFormatButil &&
      output->format != kConsoleFormatButilNoLen) {
    return;
  }
  output->textBuffer[0] = static_cast<char>(kDumpTrailer);
  output->textBuffer[1] = '\0';
  fwrite(output->textBuffer, 1, 1, output->outputFile);
}

void WriteDumpRecord(uint8_t dumpFormat, uint32_t length, const uint8_t* bytes,
                     FILE* dumpFile) {
  EntryLayout layout;
  if (dumpFile == nullptr || !WizardLayout(dumpFormat, &layout)) return;
  char scratch[32];
  WriteEntry(layout, length, bytes, scratch, sizeof scratch, dumpFile);
}
