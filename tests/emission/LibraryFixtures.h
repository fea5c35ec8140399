// Real library files for the emission tests: created with the library type's layout (as `vezi create` does)
// and filled record by record through the table engine.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "librarydb/OVLibConst.h"

namespace vez::test {

// Creates folder/LibName(libType) with the type's layout and returns its path.
inline std::string CreateLibrary(const std::string& folder, std::int32_t libType) {
  const std::string path = folder + "/" + LibName(libType);
  TMyTable lib(path, false);
  SetFieldIndexDefs(lib.Table(), libType, true);
  lib.CreateDBTable();
  return path;
}

struct ElementRecord {
  std::int32_t lower = 0, upper = 0;
  bool terz = false, komplett = true;
  double single = 0;                 // "Values0"
  std::function<double(int)> value;  // "Values" + n for n = 1..30
};

// Appends one element record; returns its key ("Eintrag").
inline std::int32_t AppendElement(const std::string& path, const ElementRecord& r) {
  TMyTable lib(path, false);
  TABSTable& t = lib.Table();
  t.Open();
  t.Append();
  t.FieldByName("ElementName").SetAsString("element " + std::to_string(t.RecordCount() + 1));
  t.FieldByName("Lower").SetAsInteger(r.lower);
  t.FieldByName("Upper").SetAsInteger(r.upper);
  t.FieldByName("Terz").SetAsBoolean(r.terz);
  t.FieldByName("Komplett").SetAsBoolean(r.komplett);
  t.FieldByName("Values0").SetAsFloat(r.single);
  for (int n = 1; n <= 30; ++n) t.FieldByName("Values" + std::to_string(n)).SetAsFloat(r.value ? r.value(n) : 0);
  t.Post();
  return t.FieldByName("Eintrag").AsInteger();
}

}  // namespace vez::test
