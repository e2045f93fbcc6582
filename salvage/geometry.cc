#include "salvage/geometry.h"

#include <cstdio>
#include <vector>

#include "reader/format.h"
#include "reader/v8_layout.h"
#include "salvage/page_rules.h"

namespace {

// Bytes of a control page copy that hold every field used here.
constexpr uint32_t kCopyBytes = kV8ControlBytes;
// Bytes the oldest versions' copy must have at least.
constexpr uint32_t kMinCopyBytes = kControlBytesConsole;
// How much of the file the inference looks at, and how many data pages
// the slot spacing is measured on.
constexpr uint32_t kSampleBytes = 16u << 20;
constexpr uint32_t kSpacingPages = 16;
constexpr uint32_t kMaxInferredSlot = 2048;
// Inference needs this many plausible page headers, and one in
// kInferredShare of the sampled pages at least.
constexpr uint32_t kMinInferredPages = 2;
constexpr uint64_t kInferredShare = 200;
// Variable pointer behind the fixed part, versions below 0x0800.
constexpr uint32_t kOldPointerBytes = 4;

std::string Format(const char* format, unsigned value) {
  char text[96];
  snprintf(text, sizeof text, format, value);
  return text;
}

// Representative row of a version class, for header patterns.
const VersionRules* ClassLayout(int versionClass) {
  return FindVersionRules(versionClass == 1 ? 0x0400 : versionClass == 2 ? 0x0700 : 0x0800);
}

uint16_t AbsoluteVersion(uint16_t stored) {
  const int16_t word = static_cast<int16_t>(stored);
  return static_cast<uint16_t>(word < 0 ? -static_cast<int32_t>(word) : word);
}

uint32_t SlotReserve(int versionClass) { return versionClass == 3 ? kV8PageHeaderSize : 2; }

// Decodes one copy and checks it.  `expectedOffset` is where this copy was
// looked for (0 for copy 1); copy 2 must lie where its own page size puts it.
void DecodeCopy(const uint8_t* bytes, uint32_t length, int64_t offset,
                int64_t fileSize, ControlCopy* copy) {
  *copy = ControlCopy{};
  copy->offset = offset;
  copy->read = length >= kMinCopyBytes;
  if (!copy->read) {
    copy->problem = "cut short";
    return;
  }
  const uint32_t signature = DecodeLE32(bytes + kControlSignatureOffset);
  if (signature != kSignaturePlain && signature != kSignatureFc) {
    copy->problem = "no control page signature";
    return;
  }
  copy->fcLayout = signature == kSignatureFc;
  const uint16_t stored = DecodeLE16(
      bytes + (copy->fcLayout ? kControlVersionFcOffset : kControlVersionPlainOffset));
  copy->version = AbsoluteVersion(stored);
  const VersionRules* layout = FindVersionRules(copy->version);
  if (layout == nullptr) {
    copy->problem = Format("version word 0x%04x not accepted", stored);
    return;
  }
  const bool v8 = layout->versionClass == 3;
  if (v8 && length < kCopyBytes) {
    copy->problem = "cut short";
    return;
  }
  if (v8 && bytes[kV8ControlKindOffset] != kV8ControlKind) {
    copy->problem = "kind byte is not 'C'";
    return;
  }
  copy->pageSize = v8 ? bytes[kV8PageSizeBy256Offset] * 256u
                      : DecodeLE16(bytes + kControlPageSizeOffset);
  copy->counter = layout->control == ControlRule::ActiveCopyByLong8
                      ? DecodeLE32(bytes + kV95ControlUsageOffset)
                      : DecodeLE16(bytes + (v8 ? kV8ControlUsageOffset : kControlCounterOffset));
  copy->recordLength = DecodeLE16(bytes + kControlRecordLengthOffset);
  copy->slotLength = DecodeLE16(bytes + kControlSlotLengthOffset);
  copy->recordCount = DecodeSwappedCount(bytes + kControlRecordCountOffset);
  uint32_t needed = 0;
  if (v8) {
    const uint16_t flags = DecodeLE16(bytes + kV8FlagsOffset);
    copy->compressed = (flags & kV8FlagCompressed) != 0;
    copy->variable = !copy->compressed && (flags & kV8FlagVariable) != 0;
    copy->systemData = (flags & kV8FlagSystemData) != 0 && (flags & kV8FlagNoSystemData) == 0;
    copy->duplicatePairs = DecodeLE16(bytes + kV8DuplicatePairsOffset);
    copy->chunkedTails = layout->chunkedTails && (flags & kV8FlagChunkedTail) != 0;
    const uint32_t system = copy->systemData ? kV8SystemDataSize : 0;
    if (copy->compressed) {
      if (copy->recordLength != 0) {
        copy->problem = Format("record length %u in a compressed file", copy->recordLength);
        return;
      }
      copy->recordLength = DecodeLE16(bytes + kV8DecodedLengthOffset);
      needed = kV8UsedMarkerOffset + kV8UsedMarkerSize + system;
    } else {
      needed = kV8SlotWordSize + system + copy->recordLength +
               (copy->variable ? kV8PointerSize : 0);
    }
    needed += 8u * copy->duplicatePairs;
  } else if (copy->recordLength == 0 &&
             (DecodeLE16(bytes + kControlFileFlagsOffset) & kFileFlagCompressed) != 0) {
    // Every record a run-length stream in a chain: the slot holds the
    // pointer and a used marker; the fixed-part length is kept at 270.
    copy->compressed = true;
    copy->recordLength = DecodeLE16(bytes + kControlFixedLengthOffset);
    needed = kOldPointerBytes + (layout->versionClass == 1 ? 1 : kV8UsedMarkerSize);
  } else {
    copy->variable = bytes[kControlVariableFlagOffset] != 0;
    needed = (copy->fcLayout ? kFcSlotDataOffset : 0) + copy->recordLength +
             (copy->variable ? kOldPointerBytes : 0);
  }
  // An owner name is set when the version word is negative; its mode can
  // say that every page is encrypted, and then the pages are noise.
  copy->encrypted = static_cast<int16_t>(stored) < 0 &&
                    (bytes[kControlOwnerModeOffset] & kOwnerModeEncrypted) != 0;
  if (!PageSizeAllowed(layout->versionClass, copy->pageSize)) {
    copy->problem = Format("page size %u not allowed", copy->pageSize);
    return;
  }
  if (offset != 0) {
    const int64_t expected =
        v8 ? V8ControlCopyBytes(copy->pageSize) : static_cast<int64_t>(copy->pageSize);
    if (expected != offset) {
      copy->problem = "page size does not place the copy here";
      return;
    }
  }
  // A record length of 0 is a file whose records are all variable tail.
  if (copy->recordLength == 0 && !copy->compressed && !copy->variable) {
    copy->problem = "record length 0";
    return;
  }
  if (copy->slotLength < needed || copy->slotLength == 0) {
    copy->problem = Format("slot length %u shorter than the record", copy->slotLength);
    return;
  }
  const uint32_t reserve = SlotReserve(layout->versionClass);
  if (copy->slotLength > copy->pageSize - reserve) {
    copy->problem = Format("slot length %u does not fit a page", copy->slotLength);
    return;
  }
  const uint64_t slots = (copy->pageSize - reserve) / copy->slotLength;
  const uint64_t pages = static_cast<uint64_t>(fileSize) / copy->pageSize;
  if (copy->recordCount > slots * pages) {
    copy->problem = Format("record count %u beyond what the file holds", copy->recordCount);
    copy->onlyCountWrong = true;
    return;
  }
  copy->sound = true;
}

bool ReadCopy(InputFile* input, int64_t offset, ControlCopy* copy) {
  uint8_t bytes[kCopyBytes] = {};
  const uint32_t got = ReadInputAt(input, offset, bytes, kCopyBytes);
  DecodeCopy(bytes, got, offset, input->size, copy);
  return copy->sound;
}

// Looks for a sound copy 2 where a version of class `versionClass` (0: any)
// with page size `pageSize` (0: any allowed) keeps it.
void FindSecondCopy(InputFile* input, int versionClass, uint32_t pageSize, ControlCopy* copy) {
  std::vector<int64_t> offsets;
  for (uint32_t ps = 512; ps <= 16384; ps += 512) {
    if (pageSize != 0 && ps != pageSize) continue;
    if ((versionClass == 0 || versionClass == 2) && PageSizeAllowed(2, ps)) offsets.push_back(ps);
    if ((versionClass == 0 || versionClass == 3) && PageSizeAllowed(3, ps)) {
      offsets.push_back(V8ControlCopyBytes(ps));
    }
  }
  ControlCopy first;
  bool haveFirst = false;
  for (size_t i = 0; i < offsets.size(); ++i) {
    bool seen = false;
    for (size_t k = 0; k < i; ++k) seen = seen || offsets[k] == offsets[i];
    if (seen) continue;
    ControlCopy candidate;
    if (ReadCopy(input, offsets[i], &candidate)) {
      *copy = candidate;
      return;
    }
    if (!haveFirst) {
      first = candidate;
      haveFirst = true;
    }
  }
  // Nothing sound: keep the first place looked at, so the report shows why.
  if (haveFirst) *copy = first;
}

// --- Inference from the data pages --------------------------------------------

struct Sample {
  std::vector<uint8_t> bytes;
};

uint32_t CountHeaders(const Sample& sample, int versionClass, uint32_t pageSize,
                      int64_t filePages, HeaderKind want) {
  const VersionRules* layout = ClassLayout(versionClass);
  uint32_t count = 0;
  const uint64_t pages = sample.bytes.size() / pageSize;
  for (uint64_t p = 1; p < pages; ++p) {
    const PageHeaderInfo info = ClassifyPageHeader(
        *layout, sample.bytes.data() + p * pageSize, p, LogicalBound(filePages));
    if (info.kind != HeaderKind::Other && (want == HeaderKind::Other || info.kind == want)) {
      ++count;
    }
  }
  return count;
}

// The page size at which page headers repeat: of the sizes a class allows,
// the largest whose header count is close to the best one.  Half the true
// size finds the same headers (and some noise), twice the size half of them.
uint32_t InferPageSize(const Sample& sample, int versionClass, int64_t fileSize,
                       uint32_t* score) {
  uint32_t best = 0;
  std::vector<std::pair<uint32_t, uint32_t>> counts;
  for (uint32_t ps = 512; ps <= 16384; ps += 512) {
    if (!PageSizeAllowed(static_cast<uint8_t>(versionClass), ps)) continue;
    const uint32_t n = CountHeaders(sample, versionClass, ps, fileSize / ps, HeaderKind::Other);
    counts.emplace_back(ps, n);
    if (n > best) best = n;
  }
  *score = best;
  if (best == 0) return 0;
  uint32_t chosen = 0;
  for (const auto& c : counts) {
    if (c.second * 4 >= best * 3) chosen = c.first;
  }
  return chosen;
}

// The slot length from the spacing of the records: records of one file
// share field layouts, so bytes one slot apart are equal more often than
// bytes at any other distance except whole multiples of it.
uint16_t InferSlotLength(const Sample& sample, int versionClass, uint32_t pageSize,
                         int64_t fileSize) {
  const VersionRules* layout = ClassLayout(versionClass);
  const uint32_t header = layout->dataPageHeaderSize;
  std::vector<const uint8_t*> pages;
  const uint64_t count = sample.bytes.size() / pageSize;
  for (uint64_t p = 1; p < count && pages.size() < kSpacingPages; ++p) {
    const uint8_t* page = sample.bytes.data() + p * pageSize;
    if (ClassifyPageHeader(*layout, page, p, LogicalBound(fileSize / pageSize)).kind ==
        HeaderKind::Data) {
      pages.push_back(page);
    }
  }
  if (pages.empty()) return 0;
  const uint32_t maxSlot = pageSize - SlotReserve(versionClass) < kMaxInferredSlot
                               ? pageSize - SlotReserve(versionClass)
                               : kMaxInferredSlot;
  std::vector<double> score(maxSlot + 1, 0.0);
  double best = 0;
  for (uint32_t length = 4; length <= maxSlot && header + length < pageSize; ++length) {
    uint64_t equal = 0;
    uint64_t positions = 0;
    for (const uint8_t* page : pages) {
      for (uint32_t i = header; i + length < pageSize; ++i) {
        equal += page[i] != 0 && page[i] == page[i + length];
      }
      positions += pageSize - header - length;
    }
    score[length] = positions == 0 ? 0 : static_cast<double>(equal) / positions;
    if (score[length] > best) best = score[length];
  }
  if (best <= 0) return 0;
  for (uint32_t length = 4; length <= maxSlot; ++length) {
    if (score[length] >= best * 0.85) return static_cast<uint16_t>(length);
  }
  return 0;
}

// Calls `visit(page, slot)` for every slot of every sampled page that
// class `versionClass` takes for a data page; stops early, with false, as
// soon as `visit` returns false.
template <typename Visit>
bool ForEachSampledSlot(const Sample& sample, uint8_t versionClass, uint32_t pageSize,
                        uint16_t slotLength, int64_t fileSize, Visit visit) {
  const VersionRules* rules = ClassLayout(versionClass);
  const uint32_t slots = (pageSize - rules->slotCountReserve) / slotLength;
  const uint64_t count = sample.bytes.size() / pageSize;
  for (uint64_t p = 1; p < count; ++p) {
    const uint8_t* page = sample.bytes.data() + p * pageSize;
    if (ClassifyPageHeader(*rules, page, p, LogicalBound(fileSize / pageSize)).kind !=
        HeaderKind::Data) {
      continue;
    }
    for (uint32_t i = 0; i < slots; ++i) {
      if (!visit(page, page + rules->dataPageHeaderSize + i * slotLength)) return false;
    }
  }
  return true;
}

// Compressed 0x0800 slots carry 01 01 00 (used) or 00 00 00 (free) at 6;
// every slot of every sampled data page does, and some are used.
bool LooksCompressed(const Sample& sample, uint32_t pageSize, uint16_t slotLength,
                     int64_t fileSize) {
  uint64_t used = 0;
  const bool allMarked = ForEachSampledSlot(
      sample, 3, pageSize, slotLength, fileSize, [&](const uint8_t*, const uint8_t* slot) {
        const uint8_t* m = slot + kV8UsedMarkerOffset;
        if (m[0] == 1 && m[1] == 1 && m[2] == 0) ++used;
        return (m[0] == 1 && m[1] == 1 && m[2] == 0) || (m[0] == 0 && m[1] == 0 && m[2] == 0);
      });
  return allMarked && used > 0;
}

// "FC" layout slots of 0x0600-0x0700 start with a small word (1, 2, 3 ...
// in used slots) before the record; records themselves rarely do, and the
// fixed part of a plain slot starts at once.
bool LooksFcLayout(const Sample& sample, uint32_t pageSize, uint16_t slotLength,
                   int64_t fileSize) {
  uint64_t used = 0;
  uint64_t small = 0;
  ForEachSampledSlot(sample, 2, pageSize, slotLength, fileSize,
                     [&](const uint8_t* page, const uint8_t* slot) {
                       if (slot + 2 > page + pageSize || (slot[0] | slot[1]) == 0) return true;
                       ++used;
                       small += slot[1] == 0 && slot[0] < 16;
                       return true;
                     });
  return used > 0 && small * 10 >= used * 9;
}

void Unusable(Geometry* g, const std::string& why) {
  g->usable = false;
  g->problem = why;
}

}  // namespace

const char* ValueSourceName(ValueSource source) {
  switch (source) {
    case ValueSource::None: return "none";
    case ValueSource::ControlCopy1: return "control page copy 1";
    case ValueSource::ControlCopy2: return "control page copy 2";
    case ValueSource::Inferred: return "inferred from the data pages";
    case ValueSource::CommandLine: return "command line";
    case ValueSource::Derived: return "derived from the other values";
  }
  return "unknown";
}

bool PageSizeAllowed(uint8_t versionClass, uint32_t pageSize) {
  if (pageSize == 0 || pageSize % 512 != 0) return false;
  return versionClass == 3 ? pageSize <= 16384 : pageSize <= 4096;
}

void DecideGeometry(InputFile* input, const GeometryOverrides& overrides, Geometry* g) {
  *g = Geometry{};
  ControlCopy& copy1 = g->copies[0];
  ControlCopy& copy2 = g->copies[1];
  ReadCopy(input, 0, &copy1);

  // Where copy 2 lies depends on the version and the page size; what copy 1
  // says of them is used as far as it can be read, else every place is tried.
  int knownClass = 0;
  if (overrides.version != 0 && FindVersionRules(overrides.version) != nullptr) {
    knownClass = FindVersionRules(overrides.version)->versionClass;
  } else if (const VersionRules* l = FindVersionRules(copy1.version)) {
    knownClass = l->versionClass;
  }
  if (knownClass != 1) {
    uint32_t ps = overrides.pageSize;
    if (ps == 0 && knownClass != 0 &&
        PageSizeAllowed(static_cast<uint8_t>(knownClass), copy1.pageSize)) {
      ps = copy1.pageSize;
    }
    // Where copy 1's page size puts copy 2 first; then, unless that page
    // size is certain, every other place.
    FindSecondCopy(input, knownClass, ps, &copy2);
    if (!copy2.sound && overrides.pageSize == 0 && !copy1.sound && ps != 0) {
      ControlCopy elsewhere;
      FindSecondCopy(input, knownClass, 0, &elsewhere);
      if (elsewhere.sound) copy2 = elsewhere;
    }
  }

  Sample sample;
  auto loadSample = [&]() {
    if (!sample.bytes.empty()) return;
    const int64_t n = input->size < kSampleBytes ? input->size : kSampleBytes;
    sample.bytes.resize(static_cast<size_t>(n));
    sample.bytes.resize(ReadInputAt(input, 0, sample.bytes.data(), static_cast<uint32_t>(n)));
  };

  // A page size damaged into another allowed value leaves copy 1 sound:
  // then copy 2 is not where copy 1 says, or it names another page size.
  // The data pages decide between the two.
  if (knownClass > 1 && copy1.sound && !copy2.sound && overrides.pageSize == 0) {
    ControlCopy elsewhere;
    FindSecondCopy(input, knownClass, 0, &elsewhere);
    if (elsewhere.sound) copy2 = elsewhere;
  }
  if (copy1.sound && copy2.sound && copy1.pageSize != copy2.pageSize) {
    loadSample();
    const int c1 = FindVersionRules(copy1.version)->versionClass;
    const int c2 = FindVersionRules(copy2.version)->versionClass;
    const uint32_t score1 =
        CountHeaders(sample, c1, copy1.pageSize, input->size / copy1.pageSize, HeaderKind::Other);
    const uint32_t score2 =
        CountHeaders(sample, c2, copy2.pageSize, input->size / copy2.pageSize, HeaderKind::Other);
    ControlCopy& loser = score2 > score1 ? copy1 : copy2;
    loser.sound = false;
    loser.problem = Format("page size %u does not fit the data pages", loser.pageSize);
  }

  const ControlCopy* chosen = nullptr;
  if (copy1.sound && copy2.sound) {
    // The copy written last has the higher counter.  On a tie 0x0600-0x0700
    // take copy 2, 0x0800-0x0900 copy 1, as the engine's readers do.
    const bool v8 = FindVersionRules(copy1.version)->versionClass == 3;
    if (copy1.counter > copy2.counter) chosen = &copy1;
    else if (copy2.counter > copy1.counter) chosen = &copy2;
    else chosen = v8 ? &copy1 : &copy2;
  } else if (copy1.sound) {
    chosen = &copy1;
  } else if (copy2.sound) {
    chosen = &copy2;
  }
  if (chosen == nullptr) {
    // A copy whose only fault is its record count still knows the layout.
    for (const ControlCopy* c : {&copy1, &copy2}) {
      if (c->onlyCountWrong && (chosen == nullptr || c->counter > chosen->counter)) chosen = c;
    }
  }
  const ValueSource fromCopy =
      chosen == &copy1 ? ValueSource::ControlCopy1 : ValueSource::ControlCopy2;
  g->chosenCopy = chosen == nullptr ? 0 : chosen == &copy1 ? 1 : 2;

  if (chosen != nullptr && chosen->encrypted) {
    return Unusable(g, "the file is encrypted with an owner name and cannot be read without the engine");
  }

  // Version.
  if (overrides.version != 0) {
    g->version = overrides.version;
    g->versionSource = ValueSource::CommandLine;
  } else if (chosen != nullptr) {
    g->version = chosen->version;
    g->versionSource = fromCopy;
  }
  g->layout = g->version != 0 ? FindVersionRules(g->version) : nullptr;
  if (g->version != 0 && g->layout == nullptr) {
    return Unusable(g, Format("version 0x%04x not supported", g->version));
  }

  // Page size.
  if (overrides.pageSize != 0) {
    g->pageSize = overrides.pageSize;
    g->pageSizeSource = ValueSource::CommandLine;
  } else if (chosen != nullptr) {
    g->pageSize = chosen->pageSize;
    g->pageSizeSource = fromCopy;
  }

  if (g->layout == nullptr || g->pageSize == 0) {
    // The header patterns tell the version class and the page size.
    loadSample();
    int bestClass = 0;
    uint32_t bestSize = 0;
    uint32_t bestScore = 0;
    for (int c = 1; c <= 3; ++c) {
      if (g->layout != nullptr && g->layout->versionClass != c) continue;
      uint32_t score = 0;
      uint32_t size = g->pageSize;
      if (size == 0) {
        size = InferPageSize(sample, c, input->size, &score);
      } else {
        score = CountHeaders(sample, c, size, input->size / size, HeaderKind::Other);
      }
      if (score > bestScore) {
        bestScore = score;
        bestClass = c;
        bestSize = size;
      }
    }
    // Noise has a plausible header now and then (a 'D' at the right place,
    // a small page number): the pattern has to hold on a share of the pages
    // that only a data file reaches.
    const uint64_t sampled = bestSize == 0 ? 0 : sample.bytes.size() / bestSize;
    if (bestScore < kMinInferredPages || bestScore * kInferredShare < sampled) {
      return Unusable(g, "no control page and no data pages to infer the geometry from");
    }
    if (g->layout == nullptr) {
      // A damaged copy may still name a version of the class found.
      uint16_t version = bestClass == 1 ? 0x0400 : bestClass == 2 ? 0x0600 : 0x0800;
      for (const ControlCopy& c : g->copies) {
        const VersionRules* l = FindVersionRules(c.version);
        if (l != nullptr && l->versionClass == bestClass) version = c.version;
      }
      g->version = version;
      g->layout = FindVersionRules(version);
      g->versionSource = ValueSource::Inferred;
    }
    if (g->pageSize == 0) {
      g->pageSize = bestSize;
      g->pageSizeSource = ValueSource::Inferred;
    }
  }
  const int versionClass = g->layout->versionClass;
  if (!PageSizeAllowed(static_cast<uint8_t>(versionClass), g->pageSize)) {
    return Unusable(g, Format("page size %u not allowed", g->pageSize));
  }

  // Record layout: from the chosen copy, else what a damaged copy 1 with a
  // valid signature says of the layout, else the plainest one.
  if (chosen != nullptr) {
    g->variable = chosen->variable;
    g->compressed = chosen->compressed;
    g->recordCount = chosen->recordCount;
    g->recordCountKnown = true;
    g->controlUsage = chosen->counter;
    g->chunkedTails = chosen->chunkedTails;
  } else if (FindVersionRules(copy1.version) != nullptr &&
             FindVersionRules(copy1.version)->versionClass == versionClass) {
    // A damaged copy 1 whose version word is still right: its flags are
    // the best guess there is.
    g->variable = copy1.variable;
    g->compressed = copy1.compressed;
  }
  bool fcLayout = chosen != nullptr ? chosen->fcLayout : copy1.fcLayout;
  bool systemData = chosen != nullptr && chosen->systemData;
  if (versionClass == 3) {
    g->controlCopyBytes = V8ControlCopyBytes(g->pageSize);
    g->slotDataOffset = static_cast<uint8_t>(
        g->compressed ? 0 : kV8SlotWordSize + (systemData ? kV8SystemDataSize : 0));
  } else {
    g->slotDataOffset = fcLayout ? kFcSlotDataOffset : 0;
  }
  const uint32_t pointerBytes =
      !g->variable ? 0 : versionClass == 3 ? kV8PointerSize : kOldPointerBytes;

  if (overrides.recordLength >= 0) {
    g->recordLength = static_cast<uint16_t>(overrides.recordLength);
    g->recordLengthSource = ValueSource::CommandLine;
  } else if (chosen != nullptr) {
    g->recordLength = chosen->recordLength;
    g->recordLengthSource = fromCopy;
  }
  if (chosen != nullptr &&
      (overrides.recordLength < 0 ||
       chosen->slotLength >= g->slotDataOffset + g->recordLength + pointerBytes)) {
    g->slotLength = chosen->slotLength;
    g->slotLengthSource = fromCopy;
  } else if (g->recordLengthSource == ValueSource::CommandLine) {
    g->slotLength = static_cast<uint16_t>(g->slotDataOffset + g->recordLength + pointerBytes);
    g->slotLengthSource = ValueSource::Derived;
    if (versionClass == 2 && chosen == nullptr && !copy1.fcLayout) {
      // Without a control page the layout signature is lost too: slots two
      // bytes longer than the record, starting with a small word, are "FC".
      loadSample();
      const uint16_t spaced = InferSlotLength(sample, versionClass, g->pageSize, input->size);
      if (spaced == g->slotLength + kFcSlotDataOffset &&
          LooksFcLayout(sample, g->pageSize, spaced, input->size)) {
        g->slotDataOffset = kFcSlotDataOffset;
        g->slotLength = spaced;
      }
    }
  } else {
    loadSample();
    g->slotLength = InferSlotLength(sample, versionClass, g->pageSize, input->size);
    g->slotLengthSource = ValueSource::Inferred;
    if (g->slotLength == 0) return Unusable(g, "slot length could not be inferred");
    if (versionClass == 2 && chosen == nullptr && !copy1.fcLayout &&
        LooksFcLayout(sample, g->pageSize, g->slotLength, input->size)) {
      g->slotDataOffset = kFcSlotDataOffset;
    }
    if (versionClass == 3 && chosen == nullptr &&
        LooksCompressed(sample, g->pageSize, g->slotLength, input->size)) {
      g->compressed = true;
      g->variable = false;
      g->slotDataOffset = 0;
    }
  }
  if (g->recordLengthSource == ValueSource::None) {
    if (g->slotLength < g->slotDataOffset + pointerBytes + 1u) {
      return Unusable(g, "slot length too short for a record");
    }
    g->recordLength = static_cast<uint16_t>(g->slotLength - g->slotDataOffset - pointerBytes);
    g->recordLengthSource = ValueSource::Derived;
  }
  if (g->slotLength == 0 || g->slotLength > g->pageSize - SlotReserve(versionClass)) {
    return Unusable(g, Format("slot length %u does not fit a page", g->slotLength));
  }
  g->usable = true;
}
