#include "dump/block_writer.h"

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace {

constexpr size_t kMaxBlocks = 8;

struct QueuedBlock {
  char* data;
  size_t size;
};

}  // namespace

// Every block is in exactly one place: with the caller, in `queue`, being
// written (`writing`), or in `freeBlocks`.  `queue` holds at most
// blockCount - 1 blocks, so its fixed ring never overflows.
struct BlockWriter {
  FILE* file = nullptr;
  char* firstBlock = nullptr;
  char* ownBlocks[kMaxBlocks] = {};

  std::mutex mutex;
  std::condition_variable changed;  // a block queued, written, or stopping
  QueuedBlock queue[kMaxBlocks] = {};
  size_t queueHead = 0;
  size_t queueCount = 0;
  char* freeBlocks[kMaxBlocks] = {};
  size_t freeCount = 0;
  bool writing = false;
  bool stopping = false;

  std::thread thread;
};

namespace {

void WriteBlocks(BlockWriter* writer) {
  std::unique_lock<std::mutex> lock(writer->mutex);
  for (;;) {
    writer->changed.wait(lock, [writer] { return writer->queueCount > 0 || writer->stopping; });
    if (writer->queueCount == 0) return;  // stopping, and nothing left
    const QueuedBlock block = writer->queue[writer->queueHead];
    writer->queueHead = (writer->queueHead + 1) % kMaxBlocks;
    --writer->queueCount;
    writer->writing = true;
    lock.unlock();
    // A failed write sets the stream's error flag, which the caller tests
    // once the run is done, as it would after its own fwrite.
    fwrite(block.data, 1, block.size, writer->file);
    lock.lock();
    writer->writing = false;
    writer->freeBlocks[writer->freeCount++] = block.data;
    writer->changed.notify_all();
  }
}

void FreeOwnBlocks(BlockWriter* writer) {
  for (char* block : writer->ownBlocks) free(block);
}

}  // namespace

BlockWriter* StartBlockWriter(FILE* file, char* firstBlock, size_t blockSize,
                              size_t blockCount) {
  if (file == nullptr || firstBlock == nullptr || blockCount < 2 || blockCount > kMaxBlocks) {
    return nullptr;
  }
  BlockWriter* writer = new (std::nothrow) BlockWriter;
  if (writer == nullptr) return nullptr;
  writer->file = file;
  writer->firstBlock = firstBlock;
  for (size_t i = 0; i + 1 < blockCount; ++i) {
    writer->ownBlocks[i] = static_cast<char*>(malloc(blockSize));
    if (writer->ownBlocks[i] == nullptr) {
      FreeOwnBlocks(writer);
      delete writer;
      return nullptr;
    }
    writer->freeBlocks[writer->freeCount++] = writer->ownBlocks[i];
  }
  // std::thread reports a thread it cannot start only by throwing; that is
  // turned into the null result here, and the caller writes on its own.
  try {
    writer->thread = std::thread(WriteBlocks, writer);
  } catch (const std::system_error&) {
    FreeOwnBlocks(writer);
    delete writer;
    return nullptr;
  }
  return writer;
}

char* HandOverBlock(BlockWriter* writer, char* block, size_t size) {
  if (size == 0) return block;
  std::unique_lock<std::mutex> lock(writer->mutex);
  writer->queue[(writer->queueHead + writer->queueCount) % kMaxBlocks] = {block, size};
  ++writer->queueCount;
  writer->changed.notify_all();
  writer->changed.wait(lock, [writer] { return writer->freeCount > 0; });
  return writer->freeBlocks[--writer->freeCount];
}

void DrainBlockWriter(BlockWriter* writer) {
  std::unique_lock<std::mutex> lock(writer->mutex);
  writer->changed.wait(lock, [writer] { return writer->queueCount == 0 && !writer->writing; });
}

char* StopBlockWriter(BlockWriter* writer) {
  {
    std::lock_guard<std::mutex> lock(writer->mutex);
    writer->stopping = true;
  }
  writer->changed.notify_all();
  writer->thread.join();
  char* const firstBlock = writer->firstBlock;
  FreeOwnBlocks(writer);
  delete writer;
  return firstBlock;
}
