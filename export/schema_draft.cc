#include "export/schema_draft.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "reader/format.h"

namespace {

// Share of records a text column may hold that are neither printable nor
// padding (stray bytes of old values).
constexpr double kTextTolerance = 0.01;

// Records a record type needs at least: fewer show too little to tell a
// layout from chance.
constexpr uint32_t kLeastTypeRecords = 10;

// Record types are proposed when two groups' drafts share less than this
// share of their fields.
constexpr double kSameLayout = 0.5;

// ... and less than this share of what groups of the same sizes, dealt at
// random, share.
constexpr double kBeyondChance = 0.7;

struct Candidate {
  uint8_t type = 0;
  uint32_t length = 0;
  uint8_t decimals = 0;
  const char* kind = "";  // the name's suffix: "string", "integer", ...
  std::string evidence;
};

// Per column of the fixed part, over the records drafted from.
struct ColumnCounts {
  std::vector<uint32_t> present;    // records long enough to have the column
  std::vector<uint32_t> printable;  // printable text bytes
  std::vector<uint32_t> blank;      // 0x20
  std::vector<uint32_t> nul;        // 0x00
  std::vector<uint32_t> startAfterPad;  // text here, padding just before
  std::vector<uint32_t> textAfterNul;   // text here, NUL just before
  std::vector<bool> constant;       // one value in every record that has it
};

struct Draft {
  const RecordSample* sample;
  std::vector<uint32_t> records;
  const Codepage* codepage;
  uint32_t fixedLength;
  ColumnCounts columns;
};

const uint8_t* RecordBytes(const Draft& d, uint32_t i) {
  return d.sample->bytes.data() + d.sample->starts[i];
}
uint32_t RecordLength(const Draft& d, uint32_t i) { return d.sample->lengths[i]; }

// Printable text: ASCII graphics and blank, and the code page's letters
// (Latin and Cyrillic) and the pound sign.
bool IsPrintable(const Codepage& codepage, uint8_t b) {
  if (b >= 0x20 && b < 0x7F) return true;
  if (b < 0x80) return false;
  const char16_t c = codepage.upper[b - 0x80];
  return (c >= 0xC0 && c <= 0x24F && c != 0xD7 && c != 0xF7) || (c >= 0x400 && c <= 0x4FF) ||
         c == 0xA3;
}

bool IsPad(uint8_t b) { return b == 0x00 || b == 0x20; }

void CountColumns(Draft* d) {
  ColumnCounts& c = d->columns;
  const uint32_t n = d->fixedLength;
  for (auto* v : {&c.present, &c.printable, &c.blank, &c.nul, &c.startAfterPad, &c.textAfterNul}) {
    v->assign(n, 0);
  }
  c.constant.assign(n, true);
  std::vector<uint8_t> first(n, 0);
  for (uint32_t r : d->records) {
    const uint8_t* p = RecordBytes(*d, r);
    const uint32_t length = std::min(RecordLength(*d, r), n);
    for (uint32_t q = 0; q < length; ++q) {
      const uint8_t b = p[q];
      if (c.present[q]++ == 0) first[q] = b;
      if (b != first[q]) c.constant[q] = false;
      const bool text = IsPrintable(*d->codepage, b) && b != 0x20;
      c.printable[q] += IsPrintable(*d->codepage, b) ? 1 : 0;
      c.blank[q] += b == 0x20 ? 1 : 0;
      c.nul[q] += b == 0x00 ? 1 : 0;
      if (q > 0 && text && IsPad(p[q - 1])) ++c.startAfterPad[q];
      if (q > 0 && text && p[q - 1] == 0) ++c.textAfterNul[q];
    }
  }
}

std::string Percent(uint64_t part, uint64_t whole) {
  if (whole == 0 || part == whole) return "100%";
  const uint64_t tenths = part * 1000 / whole;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "%";
}

std::string OfRecords(uint64_t n) { return std::to_string(n) + (n == 1 ? " record" : " records"); }

// Calls `check(bytes)` with the `width` bytes at `at` of every record long
// enough; counts those records in *seen.  False when a check fails.
template <typename Check>
bool EveryRecord(const Draft& d, uint32_t at, uint32_t width, uint32_t* seen, Check check) {
  *seen = 0;
  for (uint32_t r : d.records) {
    if (RecordLength(d, r) < at + width) continue;
    ++*seen;
    if (!check(RecordBytes(d, r) + at)) return false;
  }
  return *seen > 0;
}

bool TryDate(const Draft& d, uint32_t at, uint32_t end, Candidate* c) {
  if (at + 4 > end) return false;
  uint32_t seen = 0, empty = 0;
  const bool all = EveryRecord(d, at, 4, &seen, [&](const uint8_t* p) {
    const uint32_t year = DecodeLE16(p + 2);
    if (p[0] == 0 && p[1] == 0 && year == 0) return ++empty, true;
    return p[0] >= 1 && p[0] <= 31 && p[1] >= 1 && p[1] <= 12 && year >= 1900 && year <= 2100;
  });
  if (!all || empty == seen) return false;
  *c = {kDdfDate, 4, 0, "date",
        "day, month, year valid in " + Percent(seen - empty, seen) + " of " + OfRecords(seen) +
            ", the others all zero"};
  return true;
}

bool PlausibleReal(double x, double most) {
  const double a = std::fabs(x);
  return std::isfinite(x) && (x == 0 || (a >= 1e-4 && a <= most));
}

bool TryFloat(const Draft& d, uint32_t at, uint32_t end, uint32_t width, Candidate* c) {
  if (at + width > end) return false;
  uint32_t seen = 0, zero = 0;
  const bool all = EveryRecord(d, at, width, &seen, [&](const uint8_t* p) {
    double x = 0;
    if (width == 8) {
      const uint64_t bits = DecodeLE32(p) | static_cast<uint64_t>(DecodeLE32(p + 4)) << 32;
      std::memcpy(&x, &bits, sizeof x);
    } else {
      const uint32_t bits = DecodeLE32(p);
      float f = 0;
      std::memcpy(&f, &bits, sizeof f);
      x = f;
    }
    zero += x == 0 ? 1 : 0;
    return PlausibleReal(x, width == 8 ? 1e13 : 1e9);
  });
  // All zero is filler, not evidence of a float.
  if (!all || zero == seen) return false;
  *c = {kDdfFloat, width, 0, "float",
        "IEEE " + std::string(width == 8 ? "double" : "single") +
            " finite and plausible in 100% of " + OfRecords(seen) + " (" +
            std::to_string(zero) + " zero)"};
  return true;
}

bool TryConstant(const Draft& d, uint32_t at, uint32_t end, Candidate* c) {
  uint32_t q = at;
  while (q < end && d.columns.constant[q] && d.columns.present[q] > 1) ++q;
  if (q == at) return false;
  // Text that every record begins alike ("C-17", "C-18") is still text.
  const uint8_t first = RecordBytes(d, d.records[0])[at];
  if (IsPrintable(*d.codepage, first) && first != 0x20) return false;
  char hex[8];
  snprintf(hex, sizeof hex, "%02x", RecordBytes(d, d.records[0])[at]);
  const bool same = std::all_of(RecordBytes(d, d.records[0]) + at, RecordBytes(d, d.records[0]) + q,
                                [&](uint8_t b) { return b == RecordBytes(d, d.records[0])[at]; });
  *c = {kSchemaBytes, q - at, 0, "filler",
        std::string("constant") + (same ? std::string(" ") + hex : std::string()) + " in all " +
            OfRecords(d.columns.present[at])};
  return true;
}

// Columns after `q` holding only padding in every record: the unused room
// of the text field before them.
uint32_t PastPadding(const Draft& d, uint32_t q, uint32_t end) {
  const ColumnCounts& c = d.columns;
  while (q < end && c.present[q] > 0 && c.blank[q] + c.nul[q] == c.present[q] &&
         (c.constant[q])) {
    ++q;
  }
  return q;
}

// `strict`: the text must also end in other than a blank in 90% of the
// records that have some (a plain string read this way seldom does); a
// key's text after the byte needs no such proof.
bool TryLstring(const Draft& d, uint32_t at, uint32_t end, Candidate* c, bool strict = true) {
  if (at + 2 > end) return false;
  uint32_t seen = 0, longest = 0, endsInText = 0, used = 0;
  for (uint32_t r : d.records) {
    const uint32_t length = RecordLength(d, r);
    if (length <= at) continue;
    const uint8_t* p = RecordBytes(d, r) + at;
    const uint32_t n = p[0];
    ++seen;
    if (at + 1 + n > end || at + 1 + n > length) return false;
    for (uint32_t i = 1; i <= n; ++i) {
      if (!IsPrintable(*d.codepage, p[i])) return false;
    }
    longest = std::max(longest, n);
    used += n > 0 ? 1 : 0;
    endsInText += n > 0 && p[n] != 0x20 ? 1 : 0;
  }
  // A plain string read as one would seldom end where its first byte says.
  if (seen == 0 || used == 0 || (strict && endsInText * 10 < used * 9)) return false;
  const uint32_t length = PastPadding(d, at + 1 + longest, end) - at;
  *c = {kDdfLstring, length, 0, "lstring",
        "length byte and printable text in 100% of " + OfRecords(seen) + ", longest " +
            std::to_string(longest)};
  return true;
}

bool Texty(const Draft& d, uint32_t q) {
  const ColumnCounts& c = d.columns;
  const uint32_t ok = c.printable[q] + c.nul[q];
  return c.present[q] > 0 && ok >= c.present[q] * (1 - kTextTolerance);
}

// Where a new run of text begins inside a text run: after padding in most
// of the records that have text there, after a NUL in a good share, or
// where more records have text than in the column before.
bool TextStartsAt(const Draft& d, uint32_t q) {
  const ColumnCounts& c = d.columns;
  const uint32_t text = c.printable[q] - c.blank[q];
  const uint32_t before = c.printable[q - 1] - c.blank[q - 1];
  if (text * 5 < c.present[q]) return false;
  return (c.startAfterPad[q] * 2 > text && text * 2 >= c.present[q]) ||
         c.textAfterNul[q] * 20 > c.present[q] ||
         text > before + c.present[q] * 3 / 10;
}

bool TryText(const Draft& d, uint32_t at, uint32_t end, Candidate* c) {
  const ColumnCounts& cc = d.columns;
  if (!Texty(d, at) || cc.printable[at] == cc.blank[at]) return false;
  uint32_t q = at + 1;
  while (q < end && Texty(d, q) && !TextStartsAt(d, q)) ++q;
  q = PastPadding(d, q, end);
  // The padding the values use (counted where they differ) decides the
  // type; trailing columns of the other padding in every record are not
  // this field's.
  uint64_t nuls = 0, blanks = 0;
  for (uint32_t i = at; i < q; ++i) {
    if (cc.constant[i]) continue;
    nuls += cc.nul[i];
    blanks += cc.blank[i];
  }
  const bool zero = nuls > blanks;
  const uint8_t pad = zero ? 0x00 : 0x20;
  // One such byte at the end is the terminator of blank-padded text (doclife
  // ends its strings so); a run of them is the next field.
  uint32_t trimmed = q;
  while (trimmed > at + 1 && cc.constant[trimmed - 1] &&
         RecordBytes(d, d.records[0])[trimmed - 1] != pad) {
    --trimmed;
  }
  if (q - trimmed >= 2) q = trimmed;
  uint64_t good = 0, seen = cc.present[at];
  for (uint32_t i = at; i < q; ++i) good += cc.printable[i] + cc.nul[i];
  const uint64_t cells = [&] {
    uint64_t n = 0;
    for (uint32_t i = at; i < q; ++i) n += cc.present[i];
    return n;
  }();
  *c = {zero ? kDdfZstring : kDdfString, q - at, 0, zero ? "zstring" : "string",
        "printable or " + std::string(zero ? "NUL" : "blank") + " padding in " +
            Percent(good, cells) + " of the bytes of " + OfRecords(seen)};
  return true;
}

bool TryPackedDate(const Draft& d, uint32_t at, uint32_t end, Candidate* c) {
  if (at + 4 > end) return false;
  uint32_t seen = 0, empty = 0;
  const bool all = EveryRecord(d, at, 4, &seen, [&](const uint8_t* p) {
    const uint32_t v = DecodeLE32(p);
    if (v == 0) return ++empty, true;
    const uint32_t year = v / 10000, month = v / 100 % 100, day = v % 100;
    return year >= 1900 && year <= 2100 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
  });
  if (!all || empty == seen) return false;
  *c = {kDdfInteger, 4, 0, "date",
        "packed date YYYYMMDD (LE integer) in " + Percent(seen - empty, seen) + " of " +
            OfRecords(seen) + ", the others zero"};
  return true;
}

// A little-endian integer of `width` bytes whose values all lie within
// +-2^limitBits: the bytes above only carry the sign.
bool TryInteger(const Draft& d, uint32_t at, uint32_t end, uint32_t width, int limitBits,
                Candidate* c) {
  if (at + width > end || d.columns.constant[at]) return false;
  uint32_t seen = 0;
  int64_t low = INT64_MAX, high = INT64_MIN;
  const int64_t limit = int64_t{1} << limitBits;
  const bool all = EveryRecord(d, at, width, &seen, [&](const uint8_t* p) {
    const int64_t v = width == 4   ? static_cast<int32_t>(DecodeLE32(p))
                      : width == 2 ? static_cast<int16_t>(DecodeLE16(p))
                                   : p[0];
    low = std::min(low, v);
    high = std::max(high, v);
    return v > -limit && v < limit;
  });
  if (!all || low == high) return false;
  // Values that use the third byte but not the second are two fields; and
  // values from 32768 up with both upper bytes constant are a 2-byte
  // integer's negatives (or an unsigned one) followed by something else.
  if (width == 4 && high >= 65536 && d.columns.constant[at + 1]) return false;
  if (width == 4 && high >= 32768 && high < 65536 && low >= 0 && d.columns.constant[at + 2] &&
      d.columns.constant[at + 3]) {
    return false;
  }
  // One byte: a small count or code, 0 to 100, not any byte at all.
  if (width == 1 && (low < 0 || high > 100)) return false;
  *c = {kDdfInteger, width, 0, "integer",
        std::to_string(width) + "-byte LE integer from " + std::to_string(low) + " to " +
            std::to_string(high) + " in 100% of " + OfRecords(seen)};
  return true;
}

// The 6-byte real of Turbo Pascal: exponent byte (0 for zero, else 129 +
// the power of two), 39 bits of mantissa, the sign in the top bit.  No DDF
// type holds it, so it is kept as bytes, but it is no integer either.
bool TryReal48(const Draft& d, uint32_t at, uint32_t end, Candidate* c) {
  if (at + 6 > end || d.columns.constant[at]) return false;
  uint32_t seen = 0, zero = 0;
  const bool all = EveryRecord(d, at, 6, &seen, [&](const uint8_t* p) {
    if (p[0] == 0) return ++zero, p[1] == 0 && p[2] == 0 && p[3] == 0 && p[4] == 0 && p[5] == 0;
    return p[0] >= 129 - 20 && p[0] <= 129 + 40;
  });
  if (!all || zero == seen) return false;
  *c = {kSchemaBytes, 6, 0, "real48",
        "6-byte Pascal real (exponent byte in range, or all zero) in 100% of " + OfRecords(seen)};
  return true;
}

bool TryLogical(const Draft& d, uint32_t at, uint32_t end, Candidate* c) {
  if (at >= end || d.columns.constant[at]) return false;
  uint32_t seen = 0;
  if (!EveryRecord(d, at, 1, &seen, [](const uint8_t* p) { return p[0] <= 1; })) return false;
  *c = {kDdfLogical, 1, 0, "logical", "only 0 and 1 in " + OfRecords(seen)};
  return true;
}

// The first candidate that holds at `at`; false when none does (a raw
// byte).
bool Classify(const Draft& d, uint32_t at, uint32_t end, Candidate* c) {
  return TryDate(d, at, end, c) || TryFloat(d, at, end, 8, c) || TryLstring(d, at, end, c) ||
         TryConstant(d, at, end, c) || TryText(d, at, end, c) || TryPackedDate(d, at, end, c) ||
         TryReal48(d, at, end, c) || TryInteger(d, at, end, 4, 24, c) ||
         TryFloat(d, at, end, 4, c) || TryInteger(d, at, end, 2, 14, c) ||
         TryLogical(d, at, end, c) || TryInteger(d, at, end, 1, 8, c);
}

// A date or a double starting inside a weaker field found at `at` (text,
// an integer, filler) ends that field there: round doubles look like text
// and NULs, and an integer read one byte early swallows a date's first.
void CutBeforeStrong(const Draft& d, uint32_t at, uint32_t end, Candidate* c) {
  if (c->type == kDdfDate || (c->type == kDdfFloat && c->length == 8)) return;
  for (uint32_t q = at + 1; q < at + c->length; ++q) {
    Candidate strong;
    if (!TryDate(d, q, end, &strong) && !TryFloat(d, q, end, 8, &strong)) continue;
    // Inside text, a "date" or "double" all of whose bytes are text is text.
    bool allText = c->type == kDdfString || c->type == kDdfZstring || c->type == kDdfLstring;
    for (uint32_t i = q; allText && i < q + strong.length && i < end; ++i) allText = Texty(d, i);
    if (allText) continue;
    c->length = q - at;
    const bool integer = c->type == kDdfInteger || c->type == kDdfLogical;
    if (integer && c->length != 1 && c->length != 2 && c->length != 4) {
      c->type = kSchemaBytes;
      c->kind = "bytes";
    } else if (integer) {
      c->type = kDdfInteger;
      c->kind = "integer";
    }
    c->evidence += "; cut before the " + std::string(strong.kind) + " at " + std::to_string(q);
    return;
  }
}

std::string PositionalName(uint32_t offset, const char* kind) {
  char name[48];
  snprintf(name, sizeof name, "f%04u_%s", offset, kind);
  return name;
}

void Push(uint32_t offset, const Candidate& c, std::vector<FieldDef>* fields,
          std::vector<std::string>* evidence) {
  FieldDef f = {};
  f.id = static_cast<uint16_t>(fields->size() + 1);
  f.name = PositionalName(offset, c.kind);
  f.dataType = c.type;
  f.offset = static_cast<uint16_t>(offset);
  f.size = static_cast<uint16_t>(c.length);
  f.decimals = c.decimals;
  fields->push_back(f);
  evidence->push_back(c.evidence);
}

// Drafts [at, end): candidates where they hold, raw bytes between.
void DraftGap(const Draft& d, uint32_t at, uint32_t end, std::vector<FieldDef>* fields,
              std::vector<std::string>* evidence) {
  uint32_t rawStart = at;
  auto flushRaw = [&](uint32_t upTo) {
    if (upTo > rawStart) {
      Candidate raw = {kSchemaBytes, upTo - rawStart, 0, "bytes",
                       "no pattern held in every one of " + OfRecords(d.records.size())};
      Push(rawStart, raw, fields, evidence);
    }
  };
  uint32_t q = at;
  while (q < end) {
    Candidate c;
    if (d.columns.present[q] == 0 || !Classify(d, q, end, &c)) {
      ++q;
      continue;
    }
    CutBeforeStrong(d, q, end, &c);
    flushRaw(q);
    Push(q, c, fields, evidence);
    q += c.length;
    rawStart = q;
  }
  flushRaw(end);
}

// The part of a record past its fixed length, as text when every byte is
// printable ASCII, a code page byte or a line break.
bool VariablePartPrintable(const uint8_t* p, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t b = p[i];
    if (b < 0x20 && b != '\r' && b != '\n' && b != '\t' && !(b == 0 && i + 1 == n)) return false;
  }
  return true;
}

Draft MakeDraft(const RecordSample& sample, const std::vector<uint32_t>& which,
                const Codepage& codepage) {
  Draft d;
  d.sample = &sample;
  d.codepage = &codepage;
  d.fixedLength = sample.fixedLength;
  if (which.empty()) {
    for (uint32_t i = 0; i < sample.starts.size(); ++i) d.records.push_back(i);
  } else {
    d.records = which;
  }
  CountColumns(&d);
  return d;
}

using Layout = std::vector<std::pair<uint32_t, uint32_t>>;  // (offset << 16 | size, type)

Layout LayoutOf(const std::vector<FieldDef>& fields) {
  Layout layout;
  for (const FieldDef& f : fields) {
    layout.push_back({static_cast<uint32_t>(f.offset) << 16 | f.size, f.dataType});
  }
  std::sort(layout.begin(), layout.end());
  return layout;
}

// Shared fields over all fields of two layouts (1: the same).
double Similarity(const Layout& a, const Layout& b) {
  Layout common;
  std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(common));
  const size_t all = a.size() + b.size() - common.size();
  return all == 0 ? 1.0 : static_cast<double>(common.size()) / static_cast<double>(all);
}

// Groups of the records by their `width` leading bytes: false unless 2 to
// 12 groups of at least 0.5% of the records each hold 95% of them.
bool GroupByLead(const RecordSample& sample, uint32_t width,
                 std::vector<std::pair<uint32_t, std::vector<uint32_t>>>* groups) {
  std::map<uint32_t, std::vector<uint32_t>> byValue;
  const uint32_t n = static_cast<uint32_t>(sample.starts.size());
  for (uint32_t i = 0; i < n; ++i) {
    if (sample.lengths[i] < width) continue;
    const uint8_t* p = sample.bytes.data() + sample.starts[i];
    byValue[width == 1 ? p[0] : DecodeLE16(p)].push_back(i);
    if (byValue.size() > 64) return false;
  }
  const uint32_t least = std::max<uint32_t>(kLeastTypeRecords, n / 200);
  uint32_t covered = 0;
  groups->clear();
  for (auto& [value, members] : byValue) {
    if (members.size() < least) continue;
    covered += static_cast<uint32_t>(members.size());
    groups->push_back({value, std::move(members)});
  }
  return groups->size() >= 2 && groups->size() <= 12 && covered * 20 >= n * 19;
}

std::string HexValue(uint32_t value, uint32_t width) {
  char text[24];
  if (width == 1) {
    snprintf(text, sizeof text, "%02x", value);
  } else {
    snprintf(text, sizeof text, "%02x%02x", value & 0xFF, value >> 8);
  }
  return text;
}

}  // namespace

void AddSampleRecord(RecordSample* sample, const uint8_t* record, uint32_t length) {
  ++sample->seen;
  if (length > sample->fixedLength) {
    ++sample->longer;
    if (VariablePartPrintable(record + sample->fixedLength, length - sample->fixedLength)) {
      ++sample->longerPrintable;
    }
  }
  if (sample->starts.size() >= kDraftMaxRecords) return;
  const uint32_t kept = std::min(length, sample->fixedLength);
  sample->starts.push_back(static_cast<uint32_t>(sample->bytes.size()));
  sample->lengths.push_back(kept);
  sample->bytes.insert(sample->bytes.end(), record, record + kept);
}

void DraftFields(const RecordSample& sample, const std::vector<uint32_t>& which,
                 const Codepage& codepage, const std::vector<KnownField>& known,
                 std::vector<FieldDef>* fields, std::vector<std::string>* evidence) {
  fields->clear();
  evidence->clear();
  const Draft d = MakeDraft(sample, which, codepage);
  std::vector<KnownField> keys = known;
  if (d.records.empty()) {
    // No record to learn from: what the keys say is all there is.
    for (const KnownField& k : keys) {
      fields->push_back(k.field);
      evidence->push_back(k.evidence);
    }
    SortFieldsByOffset(fields, evidence);
    return;
  }
  std::sort(keys.begin(), keys.end(),
            [](const KnownField& a, const KnownField& b) { return a.field.offset < b.field.offset; });
  uint32_t at = 0;
  for (const KnownField& k : keys) {
    const uint32_t start = k.field.offset, stop = start + k.field.size;
    // Keys that overlap one taken already, or reach past the fixed part,
    // are left to the column evidence.
    if (start < at || stop > d.fixedLength) continue;
    // Text keys often index the text of a length-prefixed string whose
    // length byte sits just before: the string is a field too.
    Candidate wrap;
    const bool wrapped = k.field.dataType == kDdfString && start > at &&
                         TryLstring(d, start - 1, stop, &wrap, false);
    wrap.length = stop - start + 1;
    DraftGap(d, at, wrapped ? start - 1 : start, fields, evidence);
    if (wrapped) {
      wrap.evidence += ", around key text at " + std::to_string(start);
      Push(start - 1, wrap, fields, evidence);
    }
    fields->push_back(k.field);
    evidence->push_back(k.evidence);
    at = stop;
  }
  DraftGap(d, at, d.fixedLength, fields, evidence);
  if (sample.longer > 0) {
    FieldDef f = {};
    const bool text = sample.longerPrintable == sample.longer;
    f.name = PositionalName(d.fixedLength, text ? "note" : "lvar");
    f.dataType = text ? kDdfNote : kDdfLvar;
    f.offset = static_cast<uint16_t>(d.fixedLength);
    f.size = 1;
    fields->push_back(f);
    evidence->push_back(std::string(text ? "printable" : "binary") +
                        " variable part in " + OfRecords(sample.longer));
  }
  for (size_t i = 0; i < fields->size(); ++i) (*fields)[i].id = static_cast<uint16_t>(i + 1);
}

namespace {

// The similarity of the drafts of every two groups, pair by pair.
std::vector<double> PairSimilarities(const RecordSample& sample, const Codepage& codepage,
                                     const std::vector<KnownField>& known,
                                     const std::vector<std::vector<uint32_t>>& groups,
                                     std::vector<SchemaRecordType>* types) {
  std::vector<Layout> layouts;
  for (size_t g = 0; g < groups.size(); ++g) {
    SchemaRecordType t;
    DraftFields(sample, groups[g], codepage, known, &t.fields, &t.evidence);
    layouts.push_back(LayoutOf(t.fields));
    if (types != nullptr) {
      (*types)[g].fields = std::move(t.fields);
      (*types)[g].evidence = std::move(t.evidence);
    }
  }
  std::vector<double> pairs;
  for (size_t a = 0; a < layouts.size(); ++a) {
    for (size_t b = a + 1; b < layouts.size(); ++b) pairs.push_back(Similarity(layouts[a], layouts[b]));
  }
  return pairs;
}

// Groups of the same sizes with the records dealt at random (a fixed
// seed): how much drafts of that many records differ by chance alone.
std::vector<std::vector<uint32_t>> ChanceGroups(const std::vector<std::vector<uint32_t>>& groups) {
  std::vector<uint32_t> all;
  for (const auto& g : groups) all.insert(all.end(), g.begin(), g.end());
  std::sort(all.begin(), all.end());
  uint32_t state = 12345;
  for (size_t i = all.size(); i > 1; --i) {
    state = state * 1103515245u + 12345u;
    std::swap(all[i - 1], all[(state >> 8) % i]);
  }
  std::vector<std::vector<uint32_t>> chance;
  size_t at = 0;
  for (const auto& g : groups) {
    chance.emplace_back(all.begin() + at, all.begin() + at + g.size());
    std::sort(chance.back().begin(), chance.back().end());
    at += g.size();
  }
  return chance;
}

}  // namespace

void DraftTable(const RecordSample& sample, const Codepage& codepage,
                const std::vector<KnownField>& known, SchemaTable* table) {
  DraftFields(sample, {}, codepage, known, &table->fields, &table->evidence);
  table->recordTypes.clear();
  for (uint32_t width : {1u, 2u}) {
    // Leading bytes that begin a longer text are its first letters (a
    // sorted name), not a record type.
    bool inText = false;
    for (const FieldDef& f : table->fields) {
      const bool text = f.dataType == kDdfString || f.dataType == kDdfZstring;
      inText = inText || (text && f.offset == 0 && f.size > width);
    }
    std::vector<std::pair<uint32_t, std::vector<uint32_t>>> byLead;
    if (inText || !GroupByLead(sample, width, &byLead)) continue;
    std::vector<std::vector<uint32_t>> groups;
    std::vector<SchemaRecordType> types(byLead.size());
    for (size_t g = 0; g < byLead.size(); ++g) {
      const uint32_t value = byLead[g].first;
      SchemaRecordType& t = types[g];
      t.name = "type_" + HexValue(value, width);
      t.when.offset = 0;
      t.when.length = static_cast<uint16_t>(width);
      t.when.from = {static_cast<uint8_t>(value & 0xFF)};
      if (width == 2) t.when.from.push_back(static_cast<uint8_t>(value >> 8));
      t.when.to = t.when.from;
      groups.push_back(std::move(byLead[g].second));
    }
    // The leading bytes are a field of their own in every type.
    std::vector<KnownField> withLead = known;
    KnownField lead = {};
    lead.field.name = "record_type";
    lead.field.size = static_cast<uint16_t>(width);
    bool text = true;
    for (const SchemaRecordType& t : types) {
      for (uint8_t b : t.when.from) text = text && IsPrintable(codepage, b) && b != 0x20;
    }
    lead.field.dataType = text ? kDdfString : kDdfUnsignedBinary;
    lead.evidence = std::to_string(types.size()) + " values split the records into groups";
    bool overlaps = false;
    for (const KnownField& k : known) overlaps = overlaps || k.field.offset < width;
    if (!overlaps) withLead.push_back(lead);
    // Some two groups differ, and by more than two groups of their sizes
    // dealt at random do.
    const std::vector<double> real = PairSimilarities(sample, codepage, withLead, groups, &types);
    const std::vector<double> chance =
        PairSimilarities(sample, codepage, withLead, ChanceGroups(groups), nullptr);
    bool differ = false;
    for (size_t i = 0; i < real.size(); ++i) {
      differ = differ || (real[i] < kSameLayout && real[i] < chance[i] * kBeyondChance);
    }
    if (differ) {
      table->recordTypes = std::move(types);
      return;
    }
  }
}

void NameFromDictionary(const TableDef& dictionary, SchemaTable* table) {
  auto rename = [&](std::vector<FieldDef>* fields) {
    for (FieldDef& f : *fields) {
      for (const FieldDef& d : dictionary.fields) {
        if (d.offset == f.offset && d.size == f.size && IsPositionalName(f.name)) f.name = d.name;
      }
    }
  };
  rename(&table->fields);
  for (SchemaRecordType& t : table->recordTypes) rename(&t.fields);
}
