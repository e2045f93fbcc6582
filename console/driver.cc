#include "console/driver.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/options.h"
#include "console/platform.h"
#include "dump/dump_writer.h"
#include "reader/datafile.h"

namespace {

// Four arguments at least: the data file option alone does not make a run.
constexpr int kMinArguments = 4;

// A signal ends the run with exit code 1, without the trailer and without
// the key prompt.  While records are being dumped the handler only asks the
// loop to stop: the loop ends the process between two entries, through the
// runtime's normal exit, so every entry written so far reaches the dump file
// whole.  Flushing from inside the handler instead could write a stream
// caught half way through an entry.  Anywhere else nothing is buffered for
// the dump, and the handler ends the process at once, giving a terminal in
// key-prompt mode its echo back first.
volatile sig_atomic_t dumpingRecords = 0;
volatile sig_atomic_t stopRequested = 0;

void OnSignal(int) {
  if (dumpingRecords) {
    stopRequested = 1;
    return;
  }
  RestoreConsoleInput();
  _Exit(1);
}

// Called between entries: a pending signal ends the run here, with every
// entry gathered so far written out.
void StopIfSignalled(DumpOutput* output) {
  if (!stopRequested) return;
  FlushDumpOutput(output);
  StopDumpWriterThread(output);
  exit(1);
}

bool WantsUsage(int argc, char** argv) {
  if (argc - 1 < kMinArguments) return true;
  return strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0;
}

// Reads every record into `area` and dumps it.  Returns when the reader has
// no more records or fails; nothing is printed about why it stopped.
void DumpRecords(DataFile* dataFile, uint8_t* area, DumpOutput* output,
                 bool silent) {
  RecordBuffer record = {};
  for (;;) {
    record.length = kRecordAreaSize;
    const uint8_t* data = area;
    const ReaderStatus status = ReadNextRecordInPlace(dataFile, &record, area, &data);
    StopIfSignalled(output);
    if (status == kReaderTooSmall) {
      // A record longer than the area has only been read in part.  The
      // cursor has moved past it, so the records after it are still
      // salvaged; the cut record itself stays out of the dump.
      if (!silent) {
        ++record.recordCounter;
        printf("Rec: %u - Len: %u - too long, not dumped \n",
               record.recordCounter, record.length);
      }
      continue;
    }
    if (status != kReaderOk) return;
    if (!silent) {
      ++record.recordCounter;
      printf("Rec: %u - Len: %u \n", record.recordCounter, record.length);
    }
    WriteDumpRecord(output, record.length, data);
  }
}

}  // namespace

int RunPagrove(int argc, char** argv) {
  PrepareConsoleStreams();
  if (WantsUsage(argc, argv)) {
    PrintUsage(stderr);
    return 1;
  }
  InstallSignalHandlers(OnSignal);

  static ConsoleSettings settings;
  set_option(argv, &settings);

  DataFile dataFile = {};
  DumpOutput output = {nullptr, nullptr, settings.format};
  uint8_t* area = nullptr;
  bool writeFailed = false;

  const ReaderStatus openStatus =
      OpenDataFile(settings.inputPath, &dataFile, ReaderVariant::Console);
  if (openStatus != kReaderOk) {
    printf("File could not be opened (ErrorCode: %u)\n",
           static_cast<unsigned>(openStatus));
  } else {
    area = static_cast<uint8_t*>(malloc(kRecordAreaSize));
    if (area != nullptr) {
      output.textBuffer = static_cast<char*>(malloc(kDumpBlockSize));
      output.blockSize = kDumpBlockSize;
    }
    if (area == nullptr || output.textBuffer == nullptr) {
      printf("Error allocating memory\n");
    } else {
      memset(area, 0, kRecordAreaSize);
      output.outputFile = fopen(settings.outputPath, "wb");
      if (output.outputFile == nullptr) {
        printf("Unable to create output file (%s)\n", settings.outputPath);
      } else {
        // The writer gathers whole entries in blocks of its own and hands
        // the stream whole blocks: a buffer in the stream would only copy
        // every block once more.
        setvbuf(output.outputFile, nullptr, _IONBF, 0);
        UseStreamWithoutLocking(output.outputFile);
        // The blocks are written by a thread of their own while the record
        // loop reads and fills the next; without one this thread writes them.
        StartDumpWriterThreadWithoutSignals(&output);
        dumpingRecords = 1;
        DumpRecords(&dataFile, area, &output, settings.silent);
      }
    }
  }

  CloseDataFile(&dataFile, kReaderOk);
  StopIfSignalled(&output);
  // The last gathered entries belong to the record loop: a signal while
  // they are written still ends the run without the trailer.
  FlushDumpOutput(&output);
  StopIfSignalled(&output);
  dumpingRecords = 0;
  StopDumpWriterThread(&output);
  WriteDumpTrailer(&output);
  free(area);
  free(output.textBuffer);
  output.textBuffer = nullptr;
  if (output.outputFile != nullptr) {
    // A full disk or a vanished medium shows up in the stream's error flag
    // or, for the last buffered bytes, in the close.
    const bool streamFailed = ferror(output.outputFile) != 0;
    const bool closeFailed = fclose(output.outputFile) != 0;
    output.outputFile = nullptr;
    if (streamFailed || closeFailed) {
      printf("Error writing output file (%s)\n", settings.outputPath);
      writeFailed = true;
    }
  }

  if (!settings.silent) {
    printf("press any key to exit the app\n");
    WaitForKey();
  }
  return writeFailed ? 1 : 0;
}
