// Dump writers: each record handed out by the reader becomes one entry of a
// dump file.  A dump file has no header; it is the entries in reader order,
// followed in the console's formats '1' and '2' by a one-byte trailer.
//
// Entry elements, byte for byte:
//   decimal number  ASCII digits of an unsigned 32-bit value ("%u")
//   comma           0x2C
//   hex CRC         lower-case hex, at least two digits, at most eight ("%02x")
//   colon           0x3A
//   hex byte        two lower-case hex digits per data byte, high nibble first
//   raw bytes       the record unchanged (may hold CR, LF, ',', 0x1A, 0x00)
//   line end        0x0D 0x0A
//   trailer         0x1A
//
// Console formats ('1'..'4'):          Wizard formats (1..6):
//   '1' length , raw  CRLF  + trailer    1 raw CRLF
//   '2' raw CRLF            + trailer    2 length , raw CRLF
//   '3' hexCRC : hex  CRLF               3 decimalCRC , raw CRLF
//   '4' hex CRLF                         4 hex CRLF
//                                        5 length , hex CRLF
//                                        6 hexCRC : hex CRLF
// A format outside the range writes nothing.
//
// The caller opens the dump file in binary mode ("wb") and closes it; the
// writers only write.  The pieces of an entry (prefix, data bytes or their
// hex digits, line end) are gathered in a text buffer of kDumpTextBufferSize
// bytes and written when it is full and when the entry ends; raw data too
// long for the buffer is written straight from the record.  The buffer holds
// the hex text of a record of up to about 4 KiB, so such an entry costs the
// stream one write.  Write results are left for the caller to check on the
// stream (ferror) once it is done.
#ifndef GANDREL_DUMP_DUMP_WRITER_H_
#define GANDREL_DUMP_DUMP_WRITER_H_

#include <cstdint>
#include <cstdio>

#include "dump/block_writer.h"

// Console DumpFormat characters.
constexpr char kConsoleFormatButil = '1';       // BUTIL save format
constexpr char kConsoleFormatButilNoLen = '2';  // BUTIL without the length
constexpr char kConsoleFormatHexCrc = '3';      // hex dump with leading CRC
constexpr char kConsoleFormatHex = '4';         // pure hex dump

// Wizard DumpFormat numbers.
constexpr uint8_t kWizardFormatBinary = 1;
constexpr uint8_t kWizardFormatBinaryLength = 2;
constexpr uint8_t kWizardFormatBinaryCrc = 3;
constexpr uint8_t kWizardFormatHex = 4;
constexpr uint8_t kWizardFormatHexLength = 5;
constexpr uint8_t kWizardFormatHexCrc = 6;

constexpr uint8_t kDumpTrailer = 0x1A;
constexpr size_t kDumpTextBufferSize = 8192;
// A block of entries the console writer can gather before it writes them.
constexpr size_t kDumpBlockSize = 1 << 18;

// The console writer's state for one run.  The driver opens `outputFile`,
// allocates `textBuffer` and releases both; while either is null the console
// writer writes nothing.  With `blockSize` 0 the buffer holds
// kDumpTextBufferSize bytes and every entry is written when it ends; with a
// blockSize of kDumpTextBufferSize or more (the buffer's size) whole entries
// are gathered and handed to the stream a block at a time, and the caller
// must end with WriteDumpTrailer or FlushDumpOutput.
//
// Gathered blocks may also be written by a thread of their own
// (StartDumpWriterThread, dump/block_writer.h) while the next block fills;
// `textBuffer` then points at whichever of the writer's blocks is being
// filled.  The bytes reach the stream in the same order either way.
struct DumpOutput {
  FILE* outputFile;
  char* textBuffer;
  char format;  // console DumpFormat, '1'..'4'
  size_t blockSize = 0;
  size_t pending = 0;  // bytes of whole entries gathered, not yet written
  BlockWriter* writer = nullptr;  // null: the caller's thread writes
};

// Console writer: one entry for the record of `length` bytes at `bytes`
// (null allowed when `length` is 0) in output->format.
void WriteDumpRecord(DumpOutput* output, uint32_t length, const uint8_t* bytes);

// Console writer: `count` entries, one for each record of `length` bytes at
// `first`, `first + stride`, and so on (the used slots of a page that follow
// each other), as that many WriteDumpRecord calls would write them.
void WriteDumpRecords(DumpOutput* output, uint32_t length, const uint8_t* first, uint32_t stride,
                      uint32_t count);

// Console writer: writes what is gathered, then the 0x1A trailer in formats
// '1' and '2' only.  Called once after the last record, whatever ended the
// record loop.
void WriteDumpTrailer(DumpOutput* output);

// Console writer: writes the entries gathered so far (a run that ends
// without its trailer).  With a writer thread it returns once the thread
// has written everything handed to it, so the stream holds every entry (and
// its error flag tells of every write) and the caller may write to it.
void FlushDumpOutput(DumpOutput* output);

// Console writer: from now on whole blocks are written by a thread of their
// own, with the caller's textBuffer as one of the blocks.  Requires a
// gathering output (blockSize of kDumpTextBufferSize or more) with its
// stream and buffer; returns false, changing nothing, without one or when
// no thread can be started (the caller's thread then writes, as before).
bool StartDumpWriterThread(DumpOutput* output);

// Console writer: writes what is gathered, ends the writer thread and puts
// the caller's own buffer back in textBuffer.  Call before the buffer is
// freed and the stream closed; does nothing without a writer thread.
void StopDumpWriterThread(DumpOutput* output);

// Wizard writer: one entry in wizard format `dumpFormat` to `dumpFile`;
// writes nothing when `dumpFile` is null.  Keeps no state between calls.
void WriteDumpRecord(uint8_t dumpFormat, uint32_t length, const uint8_t* bytes,
                     FILE* dumpFile);

#endif  // GANDREL_DUMP_DUMP_WRITER_H_
