// A block writer: a thread of its own that writes whole blocks of bytes to a
// stream, in the order they are handed over, while the caller fills the
// next block.  The caller's reading and encoding and the stream's writes
// then overlap instead of taking turns.
//
// Blocks: the writer has `blockCount` blocks of `blockSize` bytes in
// rotation.  One of them is the caller's own (given at start and given back
// at stop); the writer allocates the others and frees them at stop.  The
// caller fills one block at a time; HandOverBlock queues it and returns a
// free one, waiting while every other block is queued or being written.
//
// The stream: only the writer's thread writes to it between HandOverBlock
// and the next DrainBlockWriter; once that returns, every byte handed over
// has gone to the stream in order and the caller may use the stream itself
// (write to it, test ferror, close it after StopBlockWriter).  Write errors
// are left on the stream's error flag, as with fwrite on the caller's
// thread: the writer writes every block it is handed whatever the result.
#ifndef GANDREL_DUMP_BLOCK_WRITER_H_
#define GANDREL_DUMP_BLOCK_WRITER_H_

#include <cstddef>
#include <cstdio>

struct BlockWriter;

// Blocks in rotation: one filled by the caller, one written, one queued.
constexpr size_t kBlockWriterBlocks = 3;

// Starts a writer for `file` (open for writing; the caller keeps and closes
// it) whose blocks are `firstBlock` and blockCount - 1 of its own, each of
// `blockSize` bytes.  Returns null, having started nothing, when blockCount
// is below 2, the blocks cannot be allocated or the thread cannot be
// started; the caller then writes on its own thread.
BlockWriter* StartBlockWriter(FILE* file, char* firstBlock, size_t blockSize,
                              size_t blockCount = kBlockWriterBlocks);

// Queues the first `size` bytes of `block` (a block of this writer, as
// returned by StartBlockWriter's caller or by HandOverBlock) for writing
// and returns a free block for the caller to fill.  A size of 0 queues
// nothing and returns `block`.
char* HandOverBlock(BlockWriter* writer, char* block, size_t size);

// Waits until every block handed over has been written.
void DrainBlockWriter(BlockWriter* writer);

// Drains, ends the thread and frees the writer's blocks and the writer.
// Returns the caller's block given at start.
char* StopBlockWriter(BlockWriter* writer);

#endif  // GANDREL_DUMP_BLOCK_WRITER_H_
