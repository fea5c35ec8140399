// The raw reference of the page benchmarks: a prepared SQLite statement stepped to its end, every value read as
// the engine reads it (numbers as numbers, texts into strings).
#pragma once

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstddef>
#include <string>

namespace vez::bench {

// Steps `statement` through its rows and resets it; returns the number of values that are not NULL.
inline std::size_t ReadRawRows(sqlite3_stmt* statement) {
  std::size_t values = 0;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    for (int i = 0; i < sqlite3_column_count(statement); ++i) {
      sqlite3_value* v = sqlite3_column_value(statement, i);
      switch (sqlite3_value_type(v)) {
        case SQLITE_NULL: continue;
        case SQLITE_INTEGER: benchmark::DoNotOptimize(sqlite3_value_int64(v)); break;
        case SQLITE_FLOAT: benchmark::DoNotOptimize(sqlite3_value_double(v)); break;
        default:
          benchmark::DoNotOptimize(std::string(reinterpret_cast<const char*>(sqlite3_value_text(v)),
                                               static_cast<std::size_t>(sqlite3_value_bytes(v))));
      }
      ++values;
    }
  }
  sqlite3_reset(statement);
  return values;
}

}  // namespace vez::bench
