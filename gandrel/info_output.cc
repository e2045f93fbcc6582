// gandrel info's two outputs: aligned "name: value" lines for people, one
// JSON object per file for scripts.
#include <cinttypes>

#include "gandrel/info_command.h"
#include "reader/version_rules.h"

namespace {

std::string Hex16(uint16_t value) {
  char text[8];
  snprintf(text, sizeof text, "0x%04x", value);
  return text;
}

// The flags a segment holds, named; the extended type with its code.
std::vector<std::string> SegmentFlagNames(const KeySegment& s) {
  std::vector<std::string> names;
  if (s.duplicates) names.push_back("duplicates");
  if (s.modifiable) names.push_back("modifiable");
  if (s.binary) names.push_back("binary");
  if (s.nullKey) names.push_back("null key");
  if (s.segmented) names.push_back("segmented");
  if (s.alternateOrder) names.push_back("alternate order");
  if (s.descending) names.push_back("descending");
  if (s.manual) names.push_back("manual");
  if (s.extendedType) names.push_back("extended type " + std::to_string(s.extendedTypeCode));
  return names;
}

const char* Yes(bool value) { return value ? "yes" : "no"; }

// The file flags, from the control page as the reader decodes it, else
// from the salvage geometry.
struct FileFlags {
  bool variableLength, variableTail, compressed, systemData;
};
FileFlags FlagsOf(const FileInfo& info) {
  const ControlInfo& c = info.control;
  if (!info.controlDecoded) {
    const Geometry& g = info.salvage.geometry;
    return {g.variable || g.compressed, g.variable, g.compressed, g.slotDataOffset == 10};
  }
  const bool tail = info.version >= 0x0800 ? c.variableTail : c.variableLength != 0 && !c.compressed;
  return {c.variableLength != 0, tail, c.compressed, c.systemData};
}

// Duplicate pointer pairs per slot: the header's word from 0x0800, else
// one pair per key that allows duplicates (docs/formats/keys.md).
uint32_t DuplicatePointers(const FileInfo& info) {
  if (info.controlDecoded && info.version >= 0x0800) return info.control.duplicatePairs;
  uint32_t n = 0;
  for (const KeyDefinition& k : info.keys) n += !k.segments.empty() && k.segments[0].duplicates;
  return n;
}

std::string OwnerText(const FileInfo& info) {
  if (!info.controlDecoded) return "not known (control page not decoded)";
  if (!info.control.ownerProtected) return "none";
  char mode[16];
  snprintf(mode, sizeof mode, "%u", static_cast<unsigned>(info.control.ownerMode));
  return std::string("owner name set, mode ") + mode +
         (info.encrypted ? ", pages encrypted" : ", pages in clear");
}

std::string KeysProblem(const FileInfo& info) {
  if (!info.controlDecoded && !info.keysFromSalvage) return "not decoded: " + info.controlProblem;
  switch (info.keyStatus) {
    case kKeysDecoded: return "";
    case kKeysNotDecoded: return "not decoded for this version";
    case kKeysShortInput: return "not decoded: the control page copy is cut short";
    case kKeysDamaged:
      return std::string("damaged at key ") + std::to_string(info.keyReport.key) + " segment " +
             std::to_string(info.keyReport.segment) + ": " + KeyDamageName(info.keyReport.damage);
  }
  return "";
}

void Line(FILE* out, const char* name, const std::string& value) {
  const std::string label = std::string(name) + ":";
  fprintf(out, "%-24s %s\n", label.c_str(), value.c_str());
}

void Field(JsonWriter* j, const char* key, const std::string& value) {
  JsonKey(j, key);
  JsonString(j, value);
}
void Field(JsonWriter* j, const char* key, uint64_t value) {
  JsonKey(j, key);
  JsonUint(j, value);
}
void Field(JsonWriter* j, const char* key, bool value) {
  JsonKey(j, key);
  JsonBool(j, value);
}

}  // namespace

void PrintInfoText(const FileInfo& info, FILE* out) {
  const SalvageReport& r = info.salvage;
  Line(out, "file", info.path);
  std::string version = Hex16(info.version);
  if (info.storedVersion != info.version) version += " (stored " + Hex16(info.storedVersion) + ")";
  if (!info.controlDecoded) version += " (from salvage: " + info.controlProblem + ")";
  Line(out, "version", version);
  Line(out, "layout", info.fcLayout ? "FC" : "plain");
  Line(out, "page size", std::to_string(info.pageSize));
  Line(out, "file size", std::to_string(r.pages.physical) + " pages (" +
                             std::to_string(info.fileSize) + " bytes)");
  Line(out, "record length", std::to_string(info.recordLength));
  Line(out, "physical record length", std::to_string(info.physicalRecordLength));
  Line(out, "slot length", std::to_string(info.slotLength));
  Line(out, "record count", info.recordCountKnown
                                ? std::to_string(info.recordCount) + " (copy " +
                                      std::to_string(info.currentCopy) + ")"
                                : std::string("not known (no sound control page copy)"));
  for (int c = 0; c < 2; ++c) {
    const ControlCopy& copy = r.geometry.copies[c];
    if (copy.offset < 0) continue;
    std::string text = "at " + std::to_string(copy.offset) + ": ";
    text += copy.read ? std::to_string(copy.recordCount) + " records, counter " +
                            std::to_string(copy.counter)
                      : std::string("cut off");
    if (copy.read && !copy.sound) text += ", " + copy.problem;
    if (c + 1 == info.currentCopy) text += " (current)";
    Line(out, c == 0 ? "control copy 1" : "control copy 2", text);
  }
  const FileFlags flags = FlagsOf(info);
  Line(out, "variable length", Yes(flags.variableLength));
  Line(out, "variable tail", Yes(flags.variableTail));
  Line(out, "record compression", Yes(flags.compressed));
  Line(out, "system data", Yes(flags.systemData));
  Line(out, "duplicate pointers", std::to_string(DuplicatePointers(info)));
  Line(out, "owner", OwnerText(info));

  const std::string keysProblem = KeysProblem(info);
  Line(out, "keys", keysProblem.empty() ? std::to_string(info.keys.size())
                                        : std::to_string(info.keys.size()) + ", " + keysProblem);
  for (size_t k = 0; k < info.keys.size(); ++k) {
    for (size_t s = 0; s < info.keys[k].segments.size(); ++s) {
      const KeySegment& seg = info.keys[k].segments[s];
      std::string text = "position " + std::to_string(seg.position) + ", length " +
                         std::to_string(seg.length);
      const std::vector<std::string> flags = SegmentFlagNames(seg);
      for (size_t f = 0; f < flags.size(); ++f) text += (f == 0 ? " (" : ", ") + flags[f];
      if (!flags.empty()) text += ")";
      const std::string name = "  key " + std::to_string(k) + " segment " + std::to_string(s);
      Line(out, name.c_str(), text);
    }
  }

  const PageCensus c = CensusOf(info);
  Line(out, "pages", std::to_string(c.physical));
  Line(out, "  control copies", std::to_string(c.control));
  Line(out, "  page map or tables", std::to_string(c.map));
  Line(out, "  data", std::to_string(c.data) + " (" + std::to_string(c.currentData) + " current)");
  if (c.variableKnown) {
    Line(out, "  variable", std::to_string(c.variable) + " (" +
                                std::to_string(c.currentVariable) + " current)");
  }
  if (c.indexKnown) {
    Line(out, "  index", std::to_string(c.index));
    Line(out, "  free or unused", std::to_string(c.free));
  } else {
    // The page headers of these versions mark data pages only.
    Line(out, "  other", std::to_string(c.free) + " (variable, index, free or unused)");
  }
  Line(out, "  damaged", std::to_string(c.damaged));
  std::string records = std::to_string(r.recordsSalvaged) + " on the sound data pages";
  if (r.geometry.recordCountKnown) {
    records += ", the header counts " + std::to_string(r.geometry.recordCount);
  }
  Line(out, "records", records);
  if (info.historyKnown) {
    const HistorySummary& h = info.history;
    Line(out, "free-slot chain", h.freeChain.known ? std::to_string(h.freeChain.slots) + " slots" +
                                                         (h.freeChain.broken ? " (then it breaks)" : "")
                                                   : "not readable");
    Line(out, "old page copies",
         h.copiesKept ? std::to_string(h.oldDataCopies) + " data pages, " +
                            std::to_string(h.oldCopiesWithRecords) + " with records"
                      : "none, the version keeps none");
  }
  Line(out, "verdict", InfoVerdict(info));
}

void WriteInfoJson(const FileInfo& info, JsonWriter* j) {
  const SalvageReport& r = info.salvage;
  JsonBeginObject(j);
  Field(j, "path", info.path);
  if (!info.read) {
    Field(j, "error", info.error);
    Field(j, "encrypted", info.encrypted);
    JsonEndObject(j);
    return;
  }
  Field(j, "version", Hex16(info.version));
  Field(j, "storedVersion", Hex16(info.storedVersion));
  Field(j, "identityFrom", std::string(info.controlDecoded ? "control page" : "salvage geometry"));
  Field(j, "layout", std::string(info.fcLayout ? "FC" : "plain"));
  Field(j, "pageSize", static_cast<uint64_t>(info.pageSize));
  Field(j, "fileSize", static_cast<uint64_t>(info.fileSize));
  Field(j, "filePages", r.pages.physical);
  Field(j, "recordLength", static_cast<uint64_t>(info.recordLength));
  Field(j, "physicalRecordLength", static_cast<uint64_t>(info.physicalRecordLength));
  Field(j, "slotLength", static_cast<uint64_t>(info.slotLength));
  JsonKey(j, "recordCount");
  if (info.recordCountKnown) JsonUint(j, info.recordCount);
  else JsonNull(j);
  Field(j, "currentCopy", static_cast<uint64_t>(info.currentCopy));
  JsonKey(j, "copies");
  JsonBeginArray(j);
  for (const ControlCopy& copy : r.geometry.copies) {
    if (copy.offset < 0) continue;
    JsonBeginObject(j);
    Field(j, "offset", static_cast<uint64_t>(copy.offset));
    Field(j, "read", copy.read);
    Field(j, "sound", copy.sound);
    if (copy.read && !copy.sound) Field(j, "problem", copy.problem);
    Field(j, "recordCount", static_cast<uint64_t>(copy.recordCount));
    Field(j, "counter", static_cast<uint64_t>(copy.counter));
    JsonEndObject(j);
  }
  JsonEndArray(j);
  const ControlInfo& ci = info.control;
  JsonKey(j, "flags");
  JsonBeginObject(j);
  const FileFlags flags = FlagsOf(info);
  Field(j, "variableLength", flags.variableLength);
  Field(j, "variableTail", flags.variableTail);
  Field(j, "compressed", flags.compressed);
  Field(j, "systemData", flags.systemData);
  Field(j, "duplicatePointers", static_cast<uint64_t>(DuplicatePointers(info)));
  JsonEndObject(j);
  JsonKey(j, "owner");
  JsonBeginObject(j);
  Field(j, "nameSet", info.controlDecoded && ci.ownerProtected);
  Field(j, "mode", static_cast<uint64_t>(info.controlDecoded ? ci.ownerMode : 0));
  Field(j, "encrypted", info.encrypted);
  JsonEndObject(j);

  const std::string keysProblem = KeysProblem(info);
  Field(j, "keysDecoded", keysProblem.empty());
  if (!keysProblem.empty()) Field(j, "keysProblem", keysProblem);
  JsonKey(j, "keys");
  JsonBeginArray(j);
  for (const KeyDefinition& key : info.keys) {
    JsonBeginArray(j);
    for (const KeySegment& seg : key.segments) {
      JsonBeginObject(j);
      Field(j, "position", static_cast<uint64_t>(seg.position));
      Field(j, "length", static_cast<uint64_t>(seg.length));
      JsonKey(j, "flags");
      JsonBeginArray(j);
      for (const std::string& name : SegmentFlagNames(seg)) {
        // The type code has a member of its own.
        JsonString(j, name.rfind("extended type", 0) == 0 ? "extended type" : name);
      }
      JsonEndArray(j);
      Field(j, "storedFlags", Hex16(seg.flags));
      if (seg.extendedType) Field(j, "type", static_cast<uint64_t>(seg.extendedTypeCode));
      JsonEndObject(j);
    }
    JsonEndArray(j);
  }
  JsonEndArray(j);

  const PageCensus c = CensusOf(info);
  JsonKey(j, "pages");
  JsonBeginObject(j);
  Field(j, "physical", c.physical);
  Field(j, "control", c.control);
  Field(j, "map", c.map);
  Field(j, "data", c.data);
  Field(j, "currentData", c.currentData);
  JsonKey(j, "variable");
  if (c.variableKnown) JsonUint(j, c.variable);
  else JsonNull(j);
  JsonKey(j, "currentVariable");
  if (c.variableKnown) JsonUint(j, c.currentVariable);
  else JsonNull(j);
  JsonKey(j, "index");
  if (c.indexKnown) JsonUint(j, c.index);
  else JsonNull(j);
  Field(j, "free", c.free);
  Field(j, "damaged", c.damaged);
  Field(j, "skipped", static_cast<uint64_t>(r.skippedPages.size() + r.skippedNotListed));
  JsonEndObject(j);
  Field(j, "recordsOnSoundPages", r.recordsSalvaged);
  Field(j, "brokenChains", static_cast<uint64_t>(r.brokenChains.size() + r.brokenNotListed));
  Field(j, "healthy", r.status == kSalvageHealthy);
  JsonKey(j, "freeChainSlots");
  if (info.historyKnown && info.history.freeChain.known) JsonUint(j, info.history.freeChain.slots);
  else JsonNull(j);
  JsonKey(j, "oldDataCopies");
  if (info.historyKnown) JsonUint(j, info.history.oldDataCopies);
  else JsonNull(j);
  JsonKey(j, "oldCopiesWithRecords");
  if (info.historyKnown) JsonUint(j, info.history.oldCopiesWithRecords);
  else JsonNull(j);
  Field(j, "verdict", InfoVerdict(info));
  JsonEndObject(j);
}
