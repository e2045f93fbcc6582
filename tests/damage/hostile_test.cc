// Hand-made hostile values: map entries and variable pointers that point
// past the end, at page 0 or at negative page numbers; fragment chains that
// loop; record lengths beyond the slot and the page; page sizes and slot
// lengths the geometry cannot use.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/damage/damage_util.h"

namespace damage {
namespace {

uint16_t Word(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
void PutWord(std::vector<uint8_t>& b, size_t at, uint16_t value) {
  b[at] = static_cast<uint8_t>(value);
  b[at + 1] = static_cast<uint8_t>(value >> 8);
}

// 0x0800 and 0x0900: 6-byte pointers, a u32 page and a u16 fragment.
bool NewPointers(const Sample& s) { return s.options.version >= 0x0800; }

// A control page word as the reader takes it: from copy 1, and for 0x0800
// and 0x0900 from the active copy, which the writer makes copy 2.
void PutControlWord(const Sample& s, std::vector<uint8_t>& b, size_t at, uint16_t value) {
  PutWord(b, at, value);
  if (NewPointers(s)) PutWord(b, s.built.controlCopyBytes + at, value);
}

// Where a variable pointer lies: the page part and the fragment part.
struct PointerAt {
  size_t page;      // 3 bytes (older versions) or 4
  size_t fragment;  // a byte (older versions) or a word
};

PointerAt RecordPointer(const Sample& s, size_t i) {
  const size_t slot = SlotStart(s, i);
  // Uncompressed 0x0800 records follow the 2-byte slot word.
  const size_t p = slot + (s.options.fcLayout || NewPointers(s) ? 2 : 0) + s.options.recordLength;
  if (NewPointers(s)) return {p, p + 4};
  return {p, p + 3};
}

// Start of a fragment, from the fragment table of the page at `pageStart`.
size_t FragmentStart(const Sample& s, size_t pageStart, uint32_t fragment) {
  const size_t word = ((s.options.pageSize - 1) >> 1) - fragment;
  const uint16_t entry = Word(s.built.bytes, pageStart + 2 * word);
  return pageStart + (NewPointers(s) ? entry : entry & 0x7FFF);
}

uint32_t FragmentNumber(const Sample& s, const std::vector<uint8_t>& b, PointerAt at) {
  return NewPointers(s) ? Word(b, at.fragment) : b[at.fragment];
}

PointerAt NextPointer(const Sample& s, size_t fragmentStart) {
  if (NewPointers(s)) return {fragmentStart, fragmentStart + 4};
  return {fragmentStart, fragmentStart + 3};
}

// Writes page number and fragment number into a pointer.  Older versions
// keep page bits 16-23, 0-7 and 8-15 in three bytes.
void PutPointer(const Sample& s, std::vector<uint8_t>& b, PointerAt at, uint32_t page,
                uint32_t fragment) {
  if (NewPointers(s)) {
    PutWord(b, at.page, static_cast<uint16_t>(page));
    PutWord(b, at.page + 2, static_cast<uint16_t>(page >> 16));
    PutWord(b, at.fragment, static_cast<uint16_t>(fragment));
  } else {
    b[at.page] = static_cast<uint8_t>(page >> 16);
    b[at.page + 1] = static_cast<uint8_t>(page);
    b[at.page + 2] = static_cast<uint8_t>(page >> 8);
    b[at.fragment] = static_cast<uint8_t>(fragment);
  }
}

void CopyPointer(const Sample& s, std::vector<uint8_t>& b, PointerAt from, PointerAt to) {
  const size_t pageBytes = NewPointers(s) ? 4 : 3;
  const size_t fragmentBytes = NewPointers(s) ? 2 : 1;
  std::copy_n(b.begin() + from.page, pageBytes, b.begin() + to.page);
  std::copy_n(b.begin() + from.fragment, fragmentBytes, b.begin() + to.fragment);
}

// First record from index 2 on whose variable part has at least
// `fragments` fragments, or -1.
int RecordWithFragments(const Sample& s, size_t fragments) {
  for (size_t i = 2; i < s.built.recordPages.size(); ++i) {
    if (s.built.recordPages[i].size() >= fragments + 1) return static_cast<int>(i);
  }
  return -1;
}

std::vector<size_t> FirstRecords(size_t n) {
  std::vector<size_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = i;
  return v;
}

// The record handed out at `position`, when there is one, starts with the
// record's fixed part: a damaged chain never spoils the part before it.
void ExpectFixedPartAt(const Sample& s, const Walk& walk, size_t position, size_t i) {
  if (walk.records.size() <= position) return;
  const auto& fixed = s.built.records[i].fixed;
  const auto& got = walk.records[position];
  ASSERT_GE(got.size(), fixed.size());
  EXPECT_TRUE(std::equal(fixed.begin(), fixed.end(), got.begin()))
      << s.name << ": record " << i << " lost its fixed part";
}

// Page numbers no file of a few pages has: past the end, page 0 (the
// control page), and numbers negative in 16, 24 or 32 bits.
std::vector<uint32_t> HostilePages(const Sample& s) {
  const uint32_t pages = static_cast<uint32_t>(s.built.bytes.size() / s.options.pageSize);
  if (NewPointers(s)) {
    return {pages + 3, 0, 1, 0x7FFF, 0x8000, 0x8001, 0xFFFE, 0xFFFF, 0x10000,
            0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
  }
  return {pages + 3, 0, 1, 0x7FFF, 0x8000, 0x800000, 0xFFFFFE};
}

// --- Page map -----------------------------------------------------------------

TEST(Hostile, MapEntriesPointPastTheEndToPageZeroOrNegative) {
  for (const Sample& sample : AllSamples()) {
    const uint16_t version = sample.options.version;
    // 0x0800 and 0x0900 keep allocation tables instead of this page map.
    if (version < 0x0600 || version >= 0x0800) continue;
    const size_t current = PageStart(sample, sample.built.mapPages.at(0)) + sample.options.pageSize;
    const uint32_t target = sample.built.dataPages.at(1);
    // The entry that maps the second data page.
    size_t entry = 0;
    for (size_t j = 1; j < sample.options.pageSize / 4u - 2; ++j) {
      const size_t at = current + 4 + 4 * j;
      const auto& b = sample.built.bytes;
      if ((static_cast<uint32_t>(b[at]) << 16 | Word(b, at + 2)) == target) entry = at;
    }
    ASSERT_NE(entry, 0u) << sample.name;
    const uint32_t pages = static_cast<uint32_t>(sample.built.bytes.size() / sample.options.pageSize);
    for (uint32_t value : {pages, pages + 3, 0u, 1u, 2u, 0x7FFFu, 0x8000u, 0xFFFFu,
                           0x800000u, 0xFFFFFEu, 0xFFFFFFu}) {
      std::vector<uint8_t> bytes = sample.built.bytes;
      bytes[entry] = static_cast<uint8_t>(value >> 16);
      PutWord(bytes, entry + 2, static_cast<uint16_t>(value));
      for (ReaderVariant variant : kBothVariants) {
        SCOPED_TRACE(sample.name + ": map entry set to " + std::to_string(value));
        ExpectSalvaged("map entries pointing anywhere", sample, variant,
                       WalkBytes(bytes, variant),
                       RecordsBefore(sample, target, bytes, variant));
      }
    }
  }
}

// --- Variable pointers ------------------------------------------------------

TEST(Hostile, VariablePointersPointPastTheEndToPageZeroOrNegative) {
  // The pointer behind a record's fixed part, and the next pointer of its
  // first fragment.  Every record before it comes out, and the record
  // itself, when handed out, keeps its fixed part.
  for (const Sample& sample : AllSamples()) {
    if (!sample.options.variableLength) continue;
    const int found = RecordWithFragments(sample, 2);
    const int i = found >= 0 ? found : RecordWithFragments(sample, 1);
    ASSERT_GE(i, 0) << sample.name;
    const PointerAt inRecord = RecordPointer(sample, i);
    std::vector<PointerAt> pointers = {inRecord};
    if (found >= 0) {
      const size_t page = PageStart(sample, sample.built.recordPages[i][1]);
      pointers.push_back(NextPointer(
          sample, FragmentStart(sample, page, FragmentNumber(sample, sample.built.bytes, inRecord))));
    }
    const std::vector<uint32_t> fragments =
        NewPointers(sample) ? std::vector<uint32_t>{0, 1, 254, 255, 0x7FFF, 0xFFFF}
                            : std::vector<uint32_t>{0, 1, 254, 255};
    for (const PointerAt& at : pointers) {
      for (uint32_t page : HostilePages(sample)) {
        for (uint32_t fragment : fragments) {
          std::vector<uint8_t> bytes = sample.built.bytes;
          PutPointer(sample, bytes, at, page, fragment);
          for (ReaderVariant variant : kBothVariants) {
            SCOPED_TRACE(sample.name + ": record " + std::to_string(i) + " pointer at " +
                         std::to_string(at.page) + " set to page " + std::to_string(page) +
                         " fragment " + std::to_string(fragment));
            const Walk walk = WalkBytes(bytes, variant);
            ExpectSalvaged("variable pointers pointing anywhere", sample, variant, walk,
                           FirstRecords(i));
            ExpectFixedPartAt(sample, walk, i, i);
          }
        }
      }
    }
  }
}

TEST(Hostile, FragmentChainsThatLoopEndAndSpareTheOtherRecords) {
  // A first fragment that points at itself, and a second fragment that
  // points back at the first.  The looping record comes out with its fixed
  // part and the fragments up to the loop; every other record is untouched.
  for (const Sample& sample : AllSamples()) {
    if (!sample.options.variableLength) continue;
    const int i = RecordWithFragments(sample, 2);
    if (i < 0) continue;
    const auto& good = sample.built.bytes;
    const PointerAt inRecord = RecordPointer(sample, i);
    const size_t page1 = PageStart(sample, sample.built.recordPages[i][1]);
    const PointerAt next1 =
        NextPointer(sample, FragmentStart(sample, page1, FragmentNumber(sample, good, inRecord)));
    const size_t page2 = PageStart(sample, sample.built.recordPages[i][2]);
    const uint32_t fragment2 = FragmentNumber(sample, good, next1);
    const PointerAt next2 = NextPointer(sample, FragmentStart(sample, page2, fragment2));

    std::vector<uint8_t> selfLoop = good;
    CopyPointer(sample, selfLoop, inRecord, next1);
    std::vector<uint8_t> backLoop = good;
    CopyPointer(sample, backLoop, inRecord, next2);
    if (sample.options.version < 0x0600) {
      // The oldest versions mark a fragment that starts with a pointer.
      const size_t word = page2 + 2 * (((sample.options.pageSize - 1) >> 1) - fragment2);
      PutWord(backLoop, word, Word(backLoop, word) | 0x8000);
    }
    std::vector<size_t> others;
    for (size_t k = 0; k < sample.built.records.size(); ++k) {
      if (k != static_cast<size_t>(i)) others.push_back(k);
    }
    for (const auto* bytes : {&selfLoop, &backLoop}) {
      for (ReaderVariant variant : kBothVariants) {
        SCOPED_TRACE(sample.name + (bytes == &selfLoop ? ": self loop" : ": loop back") +
                     " in record " + std::to_string(i));
        const Walk walk = WalkBytes(*bytes, variant);
        ExpectSalvaged("fragment chains that loop", sample, variant, walk, others);
        EXPECT_EQ(walk.endStatus, kReaderEnd);
        ASSERT_EQ(walk.records.size(), sample.built.records.size());
        ExpectFixedPartAt(sample, walk, i, i);
      }
    }
  }
}

// --- Geometry from the control page ---------------------------------------------

TEST(Hostile, RecordLengthLargerThanTheSlotAndThePage) {
  // Slots stay where they are, so every record still comes out, with its
  // stored bytes first; what lies beyond the page reads as zeros.
  for (const Sample& sample : AllSamples()) {
    const uint16_t slotLength = sample.built.slotLength;
    for (uint32_t length : {slotLength + 7u, sample.options.pageSize + 100u, 0xFFFFu}) {
      std::vector<uint8_t> bytes = sample.built.bytes;
      PutControlWord(sample, bytes, 22, static_cast<uint16_t>(length));
      for (ReaderVariant variant : kBothVariants) {
        SCOPED_TRACE(sample.name + ": record length " + std::to_string(length));
        const Walk walk = WalkBytes(bytes, variant);
        ExpectSane("record length beyond slot and page", variant, walk);
        if (sample.options.variableLength) continue;  // the pointers moved
        ASSERT_EQ(walk.openStatus, kReaderOk);
        ASSERT_EQ(walk.records.size(), sample.built.records.size());
        for (size_t k = 0; k < walk.records.size(); ++k) {
          EXPECT_EQ(walk.records[k].size(), std::min<uint32_t>(length, 64000));
          ExpectFixedPartAt(sample, walk, k, k);
        }
      }
    }
  }
}

TEST(Hostile, PageSizesTheGeometryCannotUse) {
  // Below 12 bytes a page cannot hold its header and a map entry: refused.
  // 12 and other odd sizes open and are walked like any damaged file.
  for (const Sample& sample : AllSamples()) {
    const bool byte43 = sample.options.version >= 0x0800;
    const std::vector<uint32_t> sizes =
        byte43 ? std::vector<uint32_t>{0, 0xFF00}
               : std::vector<uint32_t>{0, 4, 8, 11, 12, 13, 16, 0xFFFF};
    for (uint32_t size : sizes) {
      std::vector<uint8_t> bytes = sample.built.bytes;
      if (byte43) {
        // Both copies, so that neither can stand in for the other.
        bytes[43] = static_cast<uint8_t>(size / 256);
        bytes[sample.built.controlCopyBytes + 43] = static_cast<uint8_t>(size / 256);
      } else {
        PutWord(bytes, 8, static_cast<uint16_t>(size));
      }
      for (ReaderVariant variant : kBothVariants) {
        SCOPED_TRACE(sample.name + ": page size " + std::to_string(size));
        const Walk walk = WalkBytes(bytes, variant);
        ExpectSane("page sizes 0 to 16 and 0xFFxx", variant, walk);
        if (size < 12) {
          EXPECT_EQ(walk.openStatus, kReaderUnusable);
        }
      }
    }
  }
}

TEST(Hostile, SlotLengthsTheGeometryCannotUse) {
  // Slot length 0 gives no slots and is refused at open; 1 makes hundreds
  // of overlapping slots; a slot longer than the page leaves only slot 0.
  for (const Sample& sample : AllSamples()) {
    const uint32_t pageSize = sample.options.pageSize;
    for (uint32_t length : {0u, 1u, 2u, pageSize - 6, pageSize, pageSize + 1, 0xFFFFu}) {
      std::vector<uint8_t> bytes = sample.built.bytes;
      PutControlWord(sample, bytes, 24, static_cast<uint16_t>(length));
      for (ReaderVariant variant : kBothVariants) {
        SCOPED_TRACE(sample.name + ": slot length " + std::to_string(length));
        const Walk walk = WalkBytes(bytes, variant);
        ExpectSane("slot lengths 0, 1, 2 and beyond the page", variant, walk);
        if (length == 0) {
          EXPECT_EQ(walk.openStatus, kReaderUnusable);
        }
        if (length > pageSize) {
          // No slot fits, but a newly loaded page is always looked at from
          // its slot 0: one record at most per data page.
          EXPECT_LE(walk.records.size(), sample.built.dataPages.size());
        }
      }
    }
  }
}

TEST(Hostile, NegativePageNumbersInPageHeaders) {
  // Versions 0x0800 and 0x0900 keep a page's number in 32 bits; numbers
  // from 0x80000000 on are negative as signed values.  A data or variable
  // page whose header carries such a number, or 0, or all ones: the pages
  // before it still come out.
  for (const Sample& sample : AllSamples()) {
    if (!NewPointers(sample)) continue;
    for (uint32_t page : {sample.built.dataPages.at(1),
                          sample.built.variablePages.empty() ? sample.built.dataPages.at(2)
                                                             : sample.built.variablePages[0]}) {
      for (uint32_t number : {0x80000000u, 0xFFFFFFFFu, 0x00008000u, 0u}) {
        std::vector<uint8_t> bytes = sample.built.bytes;
        PutWord(bytes, PageStart(sample, page), static_cast<uint16_t>(number));
        PutWord(bytes, PageStart(sample, page) + 2, static_cast<uint16_t>(number >> 16));
        for (ReaderVariant variant : kBothVariants) {
          SCOPED_TRACE(sample.name + ": page " + std::to_string(page) + " numbered " +
                       std::to_string(number));
          ExpectSalvaged("negative page numbers", sample, variant, WalkBytes(bytes, variant),
                         RecordsBefore(sample, page, bytes, variant));
        }
      }
    }
  }
}

}  // namespace
}  // namespace damage
