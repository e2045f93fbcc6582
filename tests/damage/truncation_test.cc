// Files cut short: at every page boundary and inside pages.  Whatever lies
// before the cut must still come out.
#include <gtest/gtest.h>

#include "tests/damage/damage_util.h"

namespace damage {
namespace {

std::vector<uint8_t> Cut(const std::vector<uint8_t>& bytes, size_t length) {
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::min(length, bytes.size()));
}

TEST(CutShort, AtEveryPageBoundary) {
  for (const Sample& sample : AllSamples()) {
    const size_t pageSize = sample.options.pageSize;
    const size_t pages = sample.built.bytes.size() / pageSize;
    for (size_t p = 0; p <= pages; p += SweepStride()) {
      const auto bytes = Cut(sample.built.bytes, p * pageSize);
      for (ReaderVariant variant : kBothVariants) {
        SCOPED_TRACE(sample.name + " cut after page " + std::to_string(p));
        ExpectSalvaged("cut at a page boundary", sample, variant,
                       WalkBytes(bytes, variant),
                       RecordsBefore(sample, static_cast<uint32_t>(p), bytes, variant),
                       TouchedFromPage(sample, static_cast<uint32_t>(p)));
      }
    }
  }
}

TEST(CutShort, InsidePages) {
  // Inside the control page's fields, just past the bytes each variant
  // reads of it, and in the middle and at the last byte of every page.
  for (const Sample& sample : AllSamples()) {
    const size_t pageSize = sample.options.pageSize;
    const size_t pages = sample.built.bytes.size() / pageSize;
    std::vector<size_t> cuts = {1, 5, 30, 263, 264, 403, 404};
    for (size_t p = 0; p < pages; ++p) {
      cuts.push_back(p * pageSize + pageSize / 2);
      cuts.push_back(p * pageSize + pageSize - 1);
    }
    for (size_t n = 0; n < cuts.size(); n += SweepStride()) {
      const size_t cut = cuts[n];
      const auto bytes = Cut(sample.built.bytes, cut);
      for (ReaderVariant variant : kBothVariants) {
        SCOPED_TRACE(sample.name + " cut at byte " + std::to_string(cut));
        ExpectSalvaged("cut inside a page", sample, variant, WalkBytes(bytes, variant),
                       RecordsBefore(sample, static_cast<uint32_t>(cut / pageSize),
                                     bytes, variant),
                       TouchedFromPage(sample, static_cast<uint32_t>(cut / pageSize)));
      }
    }
  }
}

TEST(CutShort, ShorterThanOnePageOpensOnlyInTheConsole) {
  // A control page of 300 bytes and nothing else, announcing records.  The
  // console reads 264 bytes of it and opens with no page at all; its walk
  // over the missing pages ends at once with "no more records".  The wizard
  // reads 404 bytes and refuses the file.
  for (uint16_t version : {0x0300, 0x0400, 0x0500}) {
    const Sample sample = SamplesOf(version)[0];
    const auto bytes = Cut(sample.built.bytes, 300);
    const Walk console = WalkBytes(bytes, ReaderVariant::Console);
    EXPECT_EQ(console.openStatus, kReaderOk);
    EXPECT_EQ(console.endStatus, kReaderEnd);
    EXPECT_TRUE(console.records.empty());
    const Walk wizard = WalkBytes(bytes, ReaderVariant::Wizard);
    EXPECT_EQ(wizard.openStatus, kReaderUnusable);
    ExpectSane("shorter than one page", ReaderVariant::Console, console);
    ExpectSane("shorter than one page", ReaderVariant::Wizard, wizard);
  }
}

}  // namespace
}  // namespace damage
