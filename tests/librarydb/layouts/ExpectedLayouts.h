// Reader of the expected layouts kept as test data (tests/data/layouts/expected_layouts.txt).
//
// The file lists every layout field by field and every index, written out from the layout tables without
// using the library's row descriptions, so that comparing the two finds a mistake in either.
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

struct ExpectedLayouts {
  std::map<std::int32_t, ExpectedLayout> layouts;                    // SetFieldIndexDefs
  std::map<std::int32_t, std::vector<ExpectedIndex>> indexOnly;     // SetIndexDefs
};

// Reads and caches the file; a malformed line fails the calling test through an exception.
const ExpectedLayouts& LoadExpectedLayouts();

}  // namespace vez::test
