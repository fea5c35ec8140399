#include "pxwriter/EmissionTable.h"

#include <cstdio>
#include <string>

namespace pxw {

namespace {

// printf-style text (keeps GCC's string-concatenation warnings out of the hot loops).
template <typename... A>
std::string Text(const char* pattern, A... args) {
  char buf[128];
  std::snprintf(buf, sizeof buf, pattern, args...);
  return buf;
}

}  // namespace

Writer EmissionTable(int records) {
  std::vector<Field> fields = {{"Nr", 22, 4}, {"Name", 1, 80}};
  for (int i = 1; i <= 31; ++i) fields.push_back({Text("L%d", i), 6, 8});
  for (int i = 1; i <= 4; ++i) fields.push_back({Text("K%d", i), 4, 4});
  fields.push_back({"Aktiv", 9, 1});
  fields.push_back({"Geprueft", 9, 1});
  fields.push_back({"Klasse", 3, 2});
  fields.push_back({"Typ", 3, 2});
  fields.push_back({"Kommentar", 12, 30});
  Writer w(fields, TableOptions{4, 12, 1252, 2, "ascii"});
  std::uint32_t seed = 12345;
  auto next = [&seed]() { return seed = seed * 1664525u + 1013904223u; };
  for (int r = 0; r < records; ++r) {
    std::vector<std::string> v;
    v.push_back(Writer::Long(r + 1));
    v.push_back(Writer::Char(Text("Emission source %d M\xfchlenstra\xdf" "e", r + 1), 80));
    for (int i = 0; i < 31; ++i) v.push_back(Writer::Number(static_cast<double>(next() % 100000) / 1000.0 - 20.0));
    for (int i = 0; i < 4; ++i) v.push_back(Writer::Long(static_cast<std::int32_t>(next() % 2000000) - 1000000));
    v.push_back(Writer::Logical(next() & 1));
    v.push_back(Writer::Logical(next() & 1));
    v.push_back(Writer::Short(static_cast<std::int16_t>(next() % 200) - 100));
    v.push_back(Writer::Short(static_cast<std::int16_t>(next() % 10)));
    v.push_back(w.Blob(Text("Tag %d", r % 7), 30));
    w.AddRecord(v);
  }
  return w;
}

Writer EmissionLibraryTable(int records, std::uint32_t seed) {
  std::vector<Field> fields = {{"Eintrag", 22, 4}, {"ElementName", 1, 80}};
  for (int i = 1; i <= 30; ++i) fields.push_back({Text("Values%d", i), 6, 8});
  fields.push_back({"Values0", 6, 8});
  for (int i = 1; i <= 4; ++i) fields.push_back({Text("Gruppen%d", i), 4, 4});
  fields.push_back({"Terz", 9, 1});
  fields.push_back({"Komplett", 9, 1});
  fields.push_back({"Lower", 3, 2});
  fields.push_back({"Upper", 3, 2});
  fields.push_back({"Kommentar", 12, 20});
  Writer w(fields, TableOptions{16, 12, 1252, 2, "ascii"});
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  for (int r = 0; r < records; ++r) {
    std::vector<std::string> v = {Writer::Long(r + 1), Writer::Char(Text("Quelle %06d Stra\xdf" "e", r), 80)};
    for (int i = 0; i < 31; ++i) v.push_back(Writer::Number(40.0 + (next() % 4000) / 100.0));
    for (int i = 0; i < 4; ++i) v.push_back(Writer::Long(static_cast<std::int32_t>(next() % 100)));
    v.push_back(Writer::Logical(true));
    v.push_back(Writer::Logical(r % 2 == 0));
    v.push_back(Writer::Short(1));
    v.push_back(Writer::Short(30));
    v.push_back(w.Blob(Text("Tag %d", r % 7), 20));
    w.AddRecord(v);
  }
  return w;
}

}  // namespace pxw
