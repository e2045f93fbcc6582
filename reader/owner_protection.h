// Owner protection: whether the pages of a file with an owner name are
// encrypted.  The control page only claims it: a negative version word says
// an owner name is set (bytes 46-54) and the mode byte at 55 says what the
// owner asked for (reader/format.h, docs/formats/owner-protection.md).  The
// proof is in the pages after the control pages: encrypted pages read as
// noise, and noise does not carry the page numbers and kinds of the file's
// own geometry.  A file whose pages read in clear is read, whatever its
// mode byte says.
#ifndef GANDREL_READER_OWNER_PROTECTION_H_
#define GANDREL_READER_OWNER_PROTECTION_H_

#include <cstdint>

#include "reader/version_rules.h"

// Modes that ask for encrypted pages: 2 and 3.  Mode 0 and 1 leave the pages
// in clear; any other value is no owner mode at all.
bool OwnerModeEncrypts(uint8_t mode);

// How many pages after the control pages are weighed.
constexpr uint32_t kOwnerSamplePages = 32;

// First physical page after the control page copies of a file of `rules`.
uint64_t FirstPageAfterControl(const VersionRules& rules);

// What the sampled page headers show.
struct ClearPageEvidence {
  uint32_t examined = 0;  // headers not all zero
  uint32_t parsed = 0;    // ... that read as headers of the file's geometry
};

// Weighs the header of physical page `physical` (kPageHeaderBytes bytes at
// `header`) of a file of `pageCount` pages laid out by `rules`.  A header
// parses when it is that of a page of the geometry: before 0x0600 (no page
// map) it carries its own physical page number; from 0x0600 on it has a data
// or variable page's kind and a page number the file can hold.  Random bytes
// do the first once in 16 million pages, the second at most once in 128.
void WeighPageHeader(const VersionRules& rules, const uint8_t* header, uint64_t physical,
                     int64_t pageCount, ClearPageEvidence* evidence);

// True when the evidence says the pages are in clear: at least one in eight
// of the headers looked at parses (index and map pages parse as neither),
// or there is no page to read at all (nothing is encrypted then).
bool PagesInClear(const ClearPageEvidence& evidence);

#endif  // GANDREL_READER_OWNER_PROTECTION_H_
