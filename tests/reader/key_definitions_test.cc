// Key definitions decoded from control pages built here, and from the real
// files of ../shared/corpus and ../shared/corpus-v7plus, checked against the
// files' own dictionaries (FILE.DDF, FIELD.DDF, INDEX.DDF).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "reader/format.h"
#include "reader/key_definitions.h"
#include "reader/v8_layout.h"
#include "tests/reader/reader_test_util.h"

namespace {

namespace fs = std::filesystem;

void Put16(std::vector<uint8_t>* b, size_t at, uint16_t v) {
  (*b)[at] = v & 0xFF;
  (*b)[at + 1] = v >> 8;
}

struct Seg { uint16_t key, stored, length, flags; uint8_t type; };

// A control page copy of `version` with the segments laid out as the
// version's layout places them.  Record length 100, page size 1024.
std::vector<uint8_t> Build(uint16_t version, const std::vector<Seg>& segs, uint16_t fileFlags = 0) {
  const bool old = version < 0x0800;
  std::vector<uint8_t> b(KeyControlBytes(version, 1024));
  Put16(&b, kControlKeyCountOffset, 3);
  Put16(&b, kControlRecordLengthOffset, 100);
  if (old) Put16(&b, kControlPageSizeOffset, 1024);
  b[kControlPageSizeBy256Offset] = old ? 0 : 4;
  Put16(&b, old ? kControlOldFlagsOffset : kV8FlagsOffset, fileFlags);
  Put16(&b, kV8DecodedLengthOffset, old ? 0 : 300);
  const size_t table = b.size() - 88, size = old ? 30 : 36;
  Put16(&b, kControlKeySegmentTotalOffset, old ? 0 : segs.size());
  if (!old) Put16(&b, kControlKeyTableOffset, table);
  for (size_t i = 0; i < segs.size(); ++i) {
    const size_t at = (old ? 272 : 408) + i * size;
    if (!old && (i == 0 || segs[i - 1].key != segs[i].key)) Put16(&b, table + 2 * segs[i].key, at);
    Put16(&b, at + 8, segs[i].flags);
    Put16(&b, at + 20, segs[i].stored);
    Put16(&b, at + 22, segs[i].length);
    b[at + 28] = segs[i].type;
  }
  return b;
}

// Key 0: two segments (duplicates, extended zstring, then binary); key 1:
// modifiable, descending, null; key 2: manual, alternate order.
const std::vector<Seg> kThreeKeys = {
    {0, 12, 16, 0x0111, 11}, {0, 40, 4, 0x0105, 1}, {1, 30, 8, 0x004A, 0},
    {2, 60, 20, 0x0220, 0}};

// --- Built control pages ----------------------------------------------------------

TEST(KeyDefinitions, EveryVersionClassDecodesSegmentsPositionsAndFlags) {
  struct Case { uint16_t version, fileFlags, slotOffset; };
  for (const Case& c : {Case{0x0300, 0, 0}, {0x0500, 0, 0}, {0x0600, 0, 2}, {0x0610, 0x0008, 0},
                        {0x0700, 0, 2}, {0x0800, 0x0001, 2}, {0x0900, 0x0200, 10},
                        {0x0950, 0x1200, 2}, {0x0800, 0x0209, 0}}) {
    SCOPED_TRACE(testing::Message() << std::hex << c.version << " flags " << c.fileFlags);
    const std::vector<uint8_t> page = Build(c.version, kThreeKeys, c.fileFlags);
    std::vector<KeyDefinition> k;
    ASSERT_EQ(kKeysDecoded, DecodeKeyDefinitions(page.data(), page.size(), c.version, &k));
    ASSERT_EQ(3u, k.size());
    ASSERT_EQ(2u, k[0].segments.size());
    const KeySegment &a = k[0].segments[0], &a2 = k[0].segments[1], &b = k[1].segments[0];
    EXPECT_EQ(12u - c.slotOffset + 1, a.position);
    EXPECT_EQ(16, a.length);
    EXPECT_TRUE(a.duplicates && a.segmented && a.extendedType && !a.binary && a2.binary && !a2.segmented);
    EXPECT_EQ(11, a.extendedTypeCode);
    EXPECT_TRUE(b.modifiable && b.descending && b.nullKey && !b.extendedType && b.extendedTypeCode == 0);
    EXPECT_TRUE(k[2].segments[0].manual && k[2].segments[0].alternateOrder);
    EXPECT_EQ(60u - c.slotOffset + 1, k[2].segments[0].position);
  }
  std::vector<KeyDefinition> k;
  for (uint16_t version : {0x0200, 0x0A00, 0x0960}) {
    const std::vector<uint8_t> page = Build(0x0600, kThreeKeys);
    EXPECT_EQ(kKeysNotDecoded, DecodeKeyDefinitions(page.data(), page.size(), version, &k));
    EXPECT_TRUE(k.empty());
  }
}

// Each case writes up to two words into a good page.  Entry i lies at
// 272 + 30 i (old) or 408 + 36 i (new), the key table 88 bytes before the end.
TEST(KeyDefinitions, DamageIsNamedWithTheKeyAndTheKeysBeforeItKept) {
  struct Case { uint16_t version; size_t at1; uint16_t v1; size_t at2; uint16_t v2; KeyDamage damage; uint16_t key; };
  for (const Case& c : {Case{0x0400, 272 + 90 + 22, 0, 0, 0, KeyDamage::EmptySegment, 2},
                        {0x0600, 272 + 20, 1, 0, 0, KeyDamage::PositionBeforeRecord, 0},
                        {0x0900, 408 + 72 + 20, 95, 0, 0, KeyDamage::SegmentPastRecord, 1},
                        {0x0800, 120, 3, 0, 0, KeyDamage::SegmentCountMismatch, 2},
                        {0x0800, 408 + 108 + 8, 0x0230, 0, 0, KeyDamage::SegmentCountMismatch, 2},
                        {0x0950, 2048 - 88 + 2, 100, 0, 0, KeyDamage::BadSegmentOffset, 1},
                        {0x0300, 20, 40, 0, 0, KeyDamage::TooManyKeys, 0},
                        {0x0500, 272 + 90 + 8, 0x0230, 8, 272 + 120, KeyDamage::ChainNotEnded, 2}}) {
    SCOPED_TRACE(KeyDamageName(c.damage));
    std::vector<uint8_t> page = Build(c.version, kThreeKeys);
    Put16(&page, c.at1, c.v1);
    if (c.at2 != 0) Put16(&page, c.at2, c.v2);
    std::vector<KeyDefinition> keys;
    KeyDecodeReport report = {};
    EXPECT_EQ(kKeysDamaged, DecodeKeyDefinitions(page.data(), page.size(), c.version, &keys, &report));
    EXPECT_EQ(c.damage, report.damage);
    EXPECT_EQ(c.key, report.key);
    EXPECT_EQ(c.key, keys.size());
  }
}

TEST(KeyDefinitions, EveryCutOfTheControlPageIsShortInputOrDecoded) {
  for (uint16_t version : {0x0400, 0x0610, 0x0800, 0x0950}) {
    const std::vector<uint8_t> page = Build(version, kThreeKeys);
    // Old layout: up to the last segment; new layout: up to the key table's
    // end (88 bytes before the copy's end here).
    const size_t needed = version < 0x0800 ? 272 + 4 * 30 : page.size() - 88 + 2 * 3;
    for (size_t cut = 0; cut <= page.size(); ++cut) {
      std::vector<KeyDefinition> keys;
      const KeyDecodeStatus s = DecodeKeyDefinitions(page.data(), cut, version, &keys);
      ASSERT_EQ(cut >= needed ? kKeysDecoded : kKeysShortInput, s) << version << " cut " << cut;
    }
  }
}

// --- Real files and their dictionaries ------------------------------------------

std::vector<uint8_t> Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The absolute version and the current control page copy, chosen as the
// reader chooses it: copy 2 at one page ("FC" below 0x0800) or at
// KeyControlBytes (from 0x0800) wins with the greater counter.
std::vector<uint8_t> CurrentCopy(const std::vector<uint8_t>& b, uint16_t* version) {
  if (b.size() < 512) return {};
  const bool fc = DecodeLE16(b.data()) == kSignatureFc;
  const uint16_t v = DecodeLE16(b.data() + (fc ? 74 : 6));
  *version = v >= 0x8000 ? static_cast<uint16_t>(0x10000 - v) : v;
  const bool fresh = *version >= 0x0800;
  const size_t f = !fc ? kKeyControlBytes : fresh ? KeyControlBytes(*version, b[43] * 256u) : DecodeLE16(&b[8]);
  const size_t counter = *version == 0x0950 ? 8 : 6;
  const bool second = fc && b.size() >= 2 * f &&
                      (fresh ? DecodeLE16(&b[f + counter]) > DecodeLE16(&b[counter])
                             : DecodeLE32(&b[f + 4]) > DecodeLE32(&b[4]));
  const size_t at = second ? f : 0;
  return std::vector<uint8_t>(b.begin() + at, b.begin() + std::min(b.size(), at + f));
}

// A file of the folders by the base name of `name`, ignoring case.
fs::path Find(const std::vector<fs::path>& folders, std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  auto lower = [](std::string x) {
    while (!x.empty() && x.back() == ' ') x.pop_back();
    for (char& c : x) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return x;
  };
  const std::string base = lower(fs::path(name).filename().string());
  for (const fs::path& folder : folders) {
    for (const auto& e : fs::directory_iterator(folder)) {
      if (!base.empty() && lower(e.path().filename().string()) == base) return e.path();
    }
  }
  return {};
}

std::vector<std::vector<uint8_t>> Rows(const std::vector<fs::path>& folders, const char* name) {
  const fs::path p = Find(folders, name);
  return p.empty() ? std::vector<std::vector<uint8_t>>{}
                   : readertest::ReadAll(p.string(), ReaderVariant::Console).records;
}

struct Tally { int files = 0, keys = 0, segments = 0, keysOnlyInDictionary = 0; };

// Every described file found in `folders` (the dictionary's first) must hold
// the keys INDEX.DDF names, each segment at its field's offset + 1 with the
// field's size.  Rows naming a field of another file are dictionary errors
// and are left out (doclife FIELD.DDF key 2 names X$File's Xf$Flags).
void CheckDictionary(const std::vector<fs::path>& folders, Tally* t) {
  std::map<uint16_t, std::vector<uint8_t>> fields;
  for (auto& r : Rows(folders, "FIELD.DDF")) if (r.size() >= 29) fields[DecodeLE16(&r[0])] = r;
  const auto index = Rows(folders, "INDEX.DDF");
  bool zeroBased = false;
  for (auto& r : index) zeroBased |= r.size() >= 10 && DecodeLE16(&r[4]) == 0;
  for (auto& file : Rows(folders, "FILE.DDF")) {
    if (file.size() < 86) continue;
    const uint16_t id = DecodeLE16(&file[0]);
    std::map<uint16_t, std::map<uint16_t, std::vector<uint8_t>>> want;  // key -> segment -> field
    for (auto& r : index) {
      if (r.size() < 10 || DecodeLE16(&r[0]) != id) continue;
      auto f = fields.find(DecodeLE16(&r[2]));
      if (f == fields.end() || DecodeLE16(&f->second[2]) != id) continue;
      want[DecodeLE16(&r[4]) - !zeroBased][DecodeLE16(&r[6]) - !zeroBased] = f->second;
    }
    fs::path p = Find(folders, std::string(file.begin() + 22, file.begin() + 86));
    if (p.empty()) p = Find(folders, std::string(file.begin() + 2, file.begin() + 22));
    if (p.empty() || want.empty()) continue;
    SCOPED_TRACE(p.string());
    uint16_t version = 0;
    const std::vector<uint8_t> copy = CurrentCopy(Bytes(p), &version);
    std::vector<KeyDefinition> keys;
    ASSERT_EQ(kKeysDecoded, DecodeKeyDefinitions(copy.data(), copy.size(), version, &keys));
    ++t->files;
    for (auto& [key, segs] : want) {
      // A dictionary may name indexes a file of an older release lacks
      // (Exchequer CustSupp.Dat: keys 12-15); word 20 decides.
      if (key >= keys.size()) { ++t->keysOnlyInDictionary; continue; }
      for (auto& [n, field] : segs) {
        ASSERT_LT(n, keys[key].segments.size()) << "key " << key;
        EXPECT_EQ(DecodeLE16(&field[25]) + 1u, keys[key].segments[n].position) << "key " << key << " segment " << n;
        EXPECT_EQ(DecodeLE16(&field[27]), keys[key].segments[n].length) << "key " << key << " segment " << n;
        ++t->segments;
      }
      ++t->keys;
    }
  }
}

TEST(KeyDefinitionsCorpus, DecodedSegmentsAgreeWithTheDictionaries) {
  const fs::path v7 = GANDREL_CORPUS_V7PLUS_DIR, old = GANDREL_CORPUS_DIR;
  if (!fs::exists(v7) || !fs::exists(old)) GTEST_SKIP() << "no corpus at " << v7 << " or " << old;
  Tally t;
  CheckDictionary({old / "doclife"}, &t);
  for (const char* plugin : {"ccdeptvalidation", "contacts", "user-defined-fields"}) {
    CheckDictionary({v7 / (std::string("exchequer-plugin-") + plugin)}, &t);
  }
  for (const char* company : {"demo", "blank-mc", "blank-sc"}) {
    CheckDictionary({v7 / "exchequer-ddf", v7 / (std::string("exchequer-") + company)}, &t);
  }
  std::printf("dictionaries: %d files, %d keys, %d segments agree; %d keys only in a dictionary\n",
              t.files, t.keys, t.segments, t.keysOnlyInDictionary);
  EXPECT_GT(t.segments, 500);
}

// What the origin projects state for two files: GALTELA.DAT (0x0600) keys at
// positions 1 and 17 of length 16, zstring, key 0 both (its keys 1 and 2
// allow duplicates: slot 968 = 2 + 950 + 2 x 8); MBBSEMU.DAT (0x0400) keys at
// offsets 2/34/38/70, zstring/integer/zstring/autoincrement, duplicates on
// keys 0 and 2, modifiable keys 1 and 2.
TEST(KeyDefinitionsCorpus, PositionsAndTypesAreTheOnesTheOriginProjectsState) {
  const fs::path old = GANDREL_CORPUS_DIR;
  if (!fs::exists(old)) GTEST_SKIP() << "no corpus at " << old;
  auto decode = [](const fs::path& p) {
    uint16_t version = 0;
    const std::vector<uint8_t> c = CurrentCopy(Bytes(p), &version);
    std::vector<KeyDefinition> keys;
    EXPECT_EQ(kKeysDecoded, DecodeKeyDefinitions(c.data(), c.size(), version, &keys));
    std::vector<std::vector<uint32_t>> out;  // per key: position, length, type, flags...
    for (auto& k : keys) {
      out.emplace_back();
      for (auto& g : k.segments) out.back().insert(out.back().end(), {g.position, g.length, g.extendedTypeCode, g.duplicates + 2u * g.modifiable});
    }
    return out;
  };
  using V = std::vector<std::vector<uint32_t>>;
  EXPECT_EQ((V{{1, 16, 11, 0, 17, 16, 11, 0}, {1, 16, 11, 1}, {17, 16, 11, 1}}), decode(old / "wbtrv32/GALTELA.DAT"));
  EXPECT_EQ((V{{3, 32, 11, 1}, {35, 4, 1, 2}, {39, 32, 11, 3}, {71, 4, 15, 0}}), decode(old / "wbtrv32/MBBSEMU.DAT"));
}

// The duplicates flag is the one flag the slots show: each key that allows
// duplicates owns an 8-byte pointer pair in every slot.
TEST(KeyDefinitionsCorpus, KeysWithDuplicatesMatchThePointerPairsOfEverySlot) {
  const fs::path v7 = GANDREL_CORPUS_V7PLUS_DIR, old = GANDREL_CORPUS_DIR;
  if (!fs::exists(v7) || !fs::exists(old)) GTEST_SKIP() << "no corpus at " << v7 << " or " << old;
  int checked = 0;
  for (const fs::path& root : {old, v7}) {
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      const std::string ext = e.path().extension().string();
      if (!e.is_regular_file() || ext == ".md" || ext == ".csv" || ext == ".hex") continue;
      SCOPED_TRACE(e.path().string());
      uint16_t version = 0;
      const std::vector<uint8_t> c = CurrentCopy(Bytes(e.path()), &version);
      ASSERT_GE(c.size(), 404u);
      std::vector<KeyDefinition> keys;
      ASSERT_EQ(kKeysDecoded, DecodeKeyDefinitions(c.data(), c.size(), version, &keys));
      const int dups = std::count_if(keys.begin(), keys.end(), [](const KeyDefinition& k) { return k.segments[0].duplicates; });
      const uint16_t rl = DecodeLE16(&c[22]), slot = DecodeLE16(&c[24]);
      if (version >= 0x0800) {
        EXPECT_EQ(DecodeLE16(&c[116]), dups);
      } else if (rl != 0) {  // compressed old-layout slots hold no record
        const int head = (version >= 0x0600 ? 2 : 0) + (c[56] != 0 ? 4 : 0);
        EXPECT_EQ(slot - rl - head, 8 * dups);
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 100);
}

}  // namespace
