// The expected new-record defaults of every library type, written out from the table of defaults: one entry per
// assignment, in the order the assignments are made.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vez::test {

enum class ExpectedSetter { Value, Text, Integer, Boolean, Float, DateTime, Blob };

enum class ExpectedKind {
  Integer,     // `integer`
  Float,       // `number`
  Boolean,     // `boolean`
  Text,        // `text`
  Now,         // the clock reading as a date-time
  NowAsText,   // the clock reading as short date + long time text
  Year,        // the year of the clock reading
  LeapYear,    // whether that year is a leap year
  ZeroBytes,   // `integer` zero bytes
};

struct ExpectedAssignment {
  std::string field;
  ExpectedSetter setter = ExpectedSetter::Value;
  ExpectedKind kind = ExpectedKind::Integer;
  std::int64_t integer = 0;
  double number = 0.0;
  bool boolean = false;
  std::string text;
  bool onlyIfPresent = false;
};

// Codes with an entry have defaults (possibly none); every other code is undefined for OnNewRecord.
const std::map<std::int32_t, std::vector<ExpectedAssignment>>& ExpectedDefaults();

}  // namespace vez::test
