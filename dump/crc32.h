// CRC-32 of dump entries: the common CRC-32 (polynomial 0x04C11DB7, input
// and output bit-reflected, register preset to all ones, result
// complemented), driven by a 256-entry table that is computed at run time,
// with seven more derived from it so that eight bytes go in per step.
//
// The table is process-wide.  It is built by the first Crc32 call or by an
// explicit BuildCrcTable; a program with threads must build it before it
// starts them, after which it is only read.
#ifndef GANDREL_DUMP_CRC32_H_
#define GANDREL_DUMP_CRC32_H_

#include <cstdint>

// Fills the CRC table.  Calling it again rebuilds the same values.
void BuildCrcTable();

// True once the table has been built.
bool CrcTableReady();

// CRC-32 of `length` bytes at `bytes` (which may be null when `length` is 0).
// An empty input gives 0; the bytes "abc" give 0x352441C2.
uint32_t Crc32(uint32_t length, const uint8_t* bytes);

#endif  // GANDREL_DUMP_CRC32_H_
