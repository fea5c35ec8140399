// Reader of the expected layouts and new-record defaults kept as test data (tests/data/layouts/).
//
// The files list every layout field by field, every index and every default assignment, written out from the
// documentation's tables without using the library's row descriptions, so that comparing the two finds a
// mistake in either.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vez::test {

struct ExpectedField {
  std::string name;
  std::string type;  // label as the tables write it: "ftString", "double", ...
  std::int32_t size = 0;
  bool required = false;
  std::int32_t compressionAlgorithm = 0;
  std::int32_t compressionLevel = 0;
};

struct ExpectedIndex {
  std::string name;
  std::string fields;
  bool primary = false;
  bool unique = false;
  bool caseInsensitive = false;
};

struct ExpectedLayout {
  std::string family;  // "classic" or "advanced"
  std::vector<ExpectedField> fields;
  std::vector<ExpectedIndex> indexes;
};

// One assignment of OnNewRecord. `kind` is integer, number, boolean, text, now, now-as-text, year, leap-year or
// zero-bytes; `value` is the literal (text without its quotes, the byte count of zero-bytes), empty for the clock.
struct ExpectedDefault {
  std::string field;
  std::string kind;
  std::string value;
};

struct ExpectedLayouts {
  std::map<std::int32_t, ExpectedLayout> layouts;                    // SetFieldIndexDefs
  std::map<std::int32_t, std::vector<ExpectedIndex>> indexOnly;     // SetIndexDefs
  // Codes with an entry have defaults (possibly none); every other code is undefined for OnNewRecord.
  std::map<std::int32_t, std::vector<ExpectedDefault>> defaults;
};

// Reads and caches the files; a malformed line fails the calling test through an exception.
const ExpectedLayouts& LoadExpectedLayouts();

}  // namespace vez::test
