#include "dump/dump_writer.h"

#include <cstring>

#include "dump/block_writer.h"
#include "dump/crc32.h"
#include "dump/hex_encode.h"

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

// The digits of "%u": no sign, no leading zeros.  Returns how many.
size_t PutDecimal(uint32_t value, char* out) {
  char reversed[10];
  size_t count = 0;
  do {
    reversed[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (size_t i = 0; i < count; ++i) out[i] = reversed[count - 1 - i];
  return count;
}

// The digits of "%02x": lower case, leading zeros dropped down to two.
size_t PutHex(uint32_t value, char* out) {
  size_t count = 2;
  while (count < 8 && (value >> (4 * count)) != 0) ++count;
  for (size_t i = 0; i < count; ++i) {
    out[i] = kHexDigits[(value >> (4 * (count - 1 - i))) & 0x0F];
  }
  return count;
}

// An entry's pieces are gathered in the caller's text buffer and handed to
// the stream when it is full and at the end of the entry, so an entry that
// fits the buffer costs one write instead of one per piece (and, in the hex
// formats, one per data byte).
// With a block writer, a full buffer is handed to its thread and the
// pieces go on in a free block.
struct Pieces {
  char* buffer;
  size_t capacity;
  size_t used;
  FILE* file;
  BlockWriter* writer = nullptr;
};

void Flush(Pieces& pieces) {
  if (pieces.writer != nullptr) {
    pieces.buffer = HandOverBlock(pieces.writer, pieces.buffer, pieces.used);
  } else if (pieces.used > 0) {
    fwrite(pieces.buffer, 1, pieces.used, pieces.file);
  }
  pieces.used = 0;
}

void PutHexBytes(Pieces& pieces, const uint8_t* bytes, uint32_t length) {
  uint32_t done = 0;
  while (done < length) {
    if (pieces.capacity - pieces.used < 2) Flush(pieces);
    const size_t room = (pieces.capacity - pieces.used) / 2;
    const uint32_t n = length - done < room ? length - done : static_cast<uint32_t>(room);
    EncodeHex(bytes + done, n, pieces.buffer + pieces.used);
    pieces.used += 2 * static_cast<size_t>(n);
    done += n;
  }
}

// Room an entry's prefix and line end take at most.
constexpr size_t kPrefixRoom = 16;

// Adds one entry to `pieces`; the caller flushes.
void PutEntry(const EntryLayout& layout, uint32_t length, const uint8_t* bytes,
              Pieces& pieces) {
  if (pieces.capacity - pieces.used < kPrefixRoom) Flush(pieces);
  char* at = pieces.buffer + pieces.used;
  switch (layout.prefix) {
    case EntryPrefix::None:
      break;
    case EntryPrefix::DecimalLength:
      pieces.used += PutDecimal(length, at);
      pieces.buffer[pieces.used++] = ',';
      break;
    case EntryPrefix::DecimalCrc:
      pieces.used += PutDecimal(Crc32(length, bytes), at);
      pieces.buffer[pieces.used++] = ',';
      break;
    case EntryPrefix::HexCrc:
      pieces.used += PutHex(Crc32(length, bytes), at);
      pieces.buffer[pieces.used++] = ':';
      break;
  }

  if (layout.body == EntryBody::Raw) {
    if (length > pieces.capacity - pieces.used) Flush(pieces);
    if (length <= pieces.capacity - pieces.used) {
      if (length > 0) memcpy(pieces.buffer + pieces.used, bytes, length);
      pieces.used += length;
    } else {
      // Too long to gather: straight from the caller's record area, after
      // every block handed over before it.
      if (pieces.writer != nullptr) DrainBlockWriter(pieces.writer);
      fwrite(bytes, 1, length, pieces.file);
    }
  } else {
    PutHexBytes(pieces, bytes, length);
  }

  if (pieces.capacity - pieces.used < 2) Flush(pieces);
  memcpy(pieces.buffer + pieces.used, "\r\n", 2);
  pieces.used += 2;
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

// The entry of a format '2' or '4' record: its bytes (as hex digits) and
// CR LF, `size` bytes at `at`.
inline void PutEntryBody(bool hex, const uint8_t* bytes, uint32_t length, size_t size, char* at) {
  if (hex) {
    EncodeHex(bytes, length, at);
  } else if (length > 0) {
    memcpy(at, bytes, length);
  }
  memcpy(at + size - 2, "\r\n", 2);
}

// An entry of format '2' or '4' that fits in what is left of the block:
// gathered straight, the commonest entry of all.  False for any other,
// which goes by pieces.
bool PutWholeEntry(DumpOutput* output, uint32_t length, const uint8_t* bytes) {
  const bool hex = output->format == kConsoleFormatHex;
  if (!hex && output->format != kConsoleFormatButilNoLen) return false;
  const size_t size = (hex ? 2 * size_t{length} : length) + 2;
  if (output->blockSize < kDumpTextBufferSize || size > output->blockSize - output->pending) {
    return false;
  }
  PutEntryBody(hex, bytes, length, size, output->textBuffer + output->pending);
  output->pending += size;
  return true;
}

// PutWholeEntry for up to `most` records `stride` bytes apart from `first`:
// returns how many were gathered before one did not fit (0 for a format
// that goes by pieces).
uint32_t PutWholeEntries(DumpOutput* output, uint32_t length, const uint8_t* first,
                         uint32_t stride, uint32_t most) {
  const bool hex = output->format == kConsoleFormatHex;
  if (!hex && output->format != kConsoleFormatButilNoLen) return 0;
  if (output->blockSize < kDumpTextBufferSize) return 0;
  const size_t size = (hex ? 2 * size_t{length} : length) + 2;
  // Held in locals: the entries' bytes go through char pointers, which the
  // compiler must assume may change *output.
  char* const text = output->textBuffer;
  const size_t blockSize = output->blockSize;
  size_t pending = output->pending;
  uint32_t n = 0;
  for (; n < most && size <= blockSize - pending; ++n, pending += size) {
    PutEntryBody(hex, first + size_t{n} * stride, length, size, text + pending);
  }
  output->pending = pending;
  return n;
}

// One entry that does not fit whole in what is left of the block, or is in
// a format that has more than the record and CR LF.
void WriteEntryInPieces(DumpOutput* output, uint32_t length, const uint8_t* bytes) {
  EntryLayout layout;
  if (!ConsoleLayout(output->format, &layout)) return;
  const bool gathers = output->blockSize >= kDumpTextBufferSize;
  Pieces pieces = {output->textBuffer, gathers ? output->blockSize : kDumpTextBufferSize,
                   output->pending, output->outputFile, output->writer};
  PutEntry(layout, length, bytes, pieces);
  if (gathers) {
    output->textBuffer = pieces.buffer;
    output->pending = pieces.used;
  } else {
    Flush(pieces);
  }
}

}  // namespace

void WriteDumpRecord(DumpOutput* output, uint32_t length, const uint8_t* bytes) {
  if (output == nullptr || output->outputFile == nullptr || output->textBuffer == nullptr) return;
  if (!PutWholeEntry(output, length, bytes)) WriteEntryInPieces(output, length, bytes);
}

void WriteDumpRecords(DumpOutput* output, uint32_t length, const uint8_t* first, uint32_t stride,
                      uint32_t count) {
  if (output == nullptr || output->outputFile == nullptr || output->textBuffer == nullptr) return;
  for (uint32_t i = 0; i < count;) {
    i += PutWholeEntries(output, length, first + size_t{i} * stride, stride, count - i);
    // The entry that did not fit whole, or any entry of another format.
    if (i < count) WriteEntryInPieces(output, length, first + size_t{i++} * stride);
  }
}

void FlushDumpOutput(DumpOutput* output) {
  if (output == nullptr || output->outputFile == nullptr) return;
  if (output->writer != nullptr) {
    output->textBuffer = HandOverBlock(output->writer, output->textBuffer, output->pending);
    output->pending = 0;
    DrainBlockWriter(output->writer);
    return;
  }
  if (output->pending == 0) return;
  fwrite(output->textBuffer, 1, output->pending, output->outputFile);
  output->pending = 0;
}

bool StartDumpWriterThread(DumpOutput* output) {
  if (output == nullptr || output->writer != nullptr || output->outputFile == nullptr ||
      output->textBuffer == nullptr || output->blockSize < kDumpTextBufferSize) {
    return false;
  }
  output->writer = StartBlockWriter(output->outputFile, output->textBuffer, output->blockSize);
  return output->writer != nullptr;
}

void StopDumpWriterThread(DumpOutput* output) {
  if (output == nullptr || output->writer == nullptr) return;
  FlushDumpOutput(output);
  output->textBuffer = StopBlockWriter(output->writer);
  output->writer = nullptr;
}

void WriteDumpTrailer(DumpOutput* output) {
  if (output == nullptr || output->outputFile == nullptr ||
      output->textBuffer == nullptr) {
    return;
  }
  FlushDumpOutput(output);
  if (output->format != kConsoleFormatButil &&
      output->format != kConsoleFormatButilNoLen) {
    return;
  }
  output->textBuffer[0] = static_cast<char>(kDumpTrailer);
  fwrite(output->textBuffer, 1, 1, output->outputFile);
}

void WriteDumpRecord(uint8_t dumpFormat, uint32_t length, const uint8_t* bytes,
                     FILE* dumpFile) {
  EntryLayout layout;
  if (dumpFile == nullptr || !WizardLayout(dumpFormat, &layout)) return;
  char scratch[kDumpTextBufferSize];
  Pieces pieces = {scratch, sizeof scratch, 0, dumpFile};
  PutEntry(layout, length, bytes, pieces);
  Flush(pieces);
}
