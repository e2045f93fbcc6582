// Writes a small Btrieve data file for trying pagrove out: a customer table
// with a fixed part and a free-text note in the variable part of each record.
//
//   make_sample OUTPUT
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fixture/fixture_writer.h"

namespace {

struct Customer {
  const char* name;
  const char* city;
  const char* note;
};

constexpr Customer kCustomers[] = {
    {"Ada Brennick", "Leeds", "Pays on time."},
    {"Bruno Caldera", "Porto", "Prefers delivery on Mondays."},
    {"Cleo Dunmore", "Galway", ""},
    {"Dario Esposti", "Bari", "Asked for the 2024 catalogue,\r\nsend by post."},
    {"Edda Falk", "Tromso", "Credit limit raised twice."},
    {"Femi Gorton", "Lagos", "New customer."},
    {"Greta Holm", "Uppsala", "Closed account, kept for records."},
    {"Hugo Ilves", "Tartu", ""},
};

constexpr uint16_t kRecordLength = 48;  // 4-byte number, name, city

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_sample OUTPUT\n");
    return 2;
  }
  std::vector<fixture::FixtureRecord> records;
  uint32_t number = 1001;
  for (const Customer& c : kCustomers) {
    fixture::FixtureRecord r;
    r.fixed.assign(kRecordLength, 0);
    for (int i = 0; i < 4; ++i) r.fixed[i] = static_cast<uint8_t>(number >> (8 * i));
    memcpy(&r.fixed[4], c.name, strlen(c.name));
    memcpy(&r.fixed[28], c.city, strlen(c.city));
    r.variable.assign(c.note, c.note + strlen(c.note));
    records.push_back(r);
    ++number;
  }
  fixture::FixtureOptions options;
  options.version = 0x0600;
  options.pageSize = 1024;
  options.recordLength = kRecordLength;
  options.variableLength = true;
  const fixture::BuiltFile built = fixture::BuildDataFile(options, records);
  if (!fixture::WriteFileBytes(argv[1], built.bytes)) {
    fprintf(stderr, "make_sample: cannot write %s\n", argv[1]);
    return 1;
  }
  printf("%s: Btrieve 6.0 data file, %zu records, %zu bytes\n", argv[1],
         records.size(), built.bytes.size());
  return 0;
}
