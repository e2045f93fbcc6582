// Helpers of the salvage tests: what the reader hands out, what salvage
// hands out, and a table of healthy files of every version.
#ifndef GANDREL_TESTS_SALVAGE_SALVAGE_TEST_UTIL_H_
#define GANDREL_TESTS_SALVAGE_SALVAGE_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "salvage/salvage.h"
#include "tests/fixture/fixture_writer.h"

using Records = std::vector<std::vector<uint8_t>>;

// The records the console reader hands out (those that fit its 64000-byte
// area), in order.
Records ReaderRecords(const std::string& path);

// A fixture file of `count` records from fixture::MakeRecords (variable
// parts of up to `variableBytes` when the options have them).
fixture::BuiltFile BuildFixtureFile(const fixture::FixtureOptions& options, uint32_t count,
                                    uint32_t variableBytes, uint32_t seed);

// Salvages `path`; the records in order.  With `takeBack` the sink can
// take back what it was given, as the salvage command's dump can: records of
// fixed length then go out during the page pass.  With `doubtful`, the
// records held back are gathered there.  With `runs`, used slots in a row
// come in one call, as the salvage command takes them; without, one call
// per record.
Records SalvageRecords(const std::string& path, SalvageReport* report,
                       const GeometryOverrides& overrides = {}, bool takeBack = true,
                       Records* doubtful = nullptr, bool runs = true);

// Equal record lists; otherwise a failure naming the counts and the first
// record that differs (not the bytes of every record).
::testing::AssertionResult SameRecords(const Records& got, const Records& expected);

// Records of `got` that `held` does not hold (as many times as it holds
// them): what salvage invented.
size_t Invented(const Records& got, const Records& held);

// The console writer's format '1' dump of `records`, written to `path`.
std::vector<uint8_t> ButilDump(const Records& records, const std::string& path);

// Fixture options for healthy files of every version class and layout.
struct NamedOptions {
  const char* name;
  fixture::FixtureOptions options;
};
std::vector<NamedOptions> HealthyFileTable();

#endif  // GANDREL_TESTS_SALVAGE_SALVAGE_TEST_UTIL_H_
