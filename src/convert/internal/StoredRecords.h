// The records of a library table read straight from the pages of its file, for the conversion's check of what
// a library holds: the library's own page reader (librarydb/internal/StoredPages.h) over a connection of its own,
// inside a read transaction (so no writer can change the file meanwhile and no lock of the process is disturbed).
// It decodes only the values asked for, in one pass over the table's pages, at a fraction of the cost of a SELECT
// of every column, and its memory does not grow with the table.
//
// A value is given as the engine's scan would give it from its field type; a value stored in any other form, a
// record that lacks the column, or a file the reader does not follow is reported as not understood, so that the
// caller compares through the engine instead. Nothing read here is ever taken for more than it is.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/Variant.h"
#include "librarydb/Absmain.h"

namespace vez::detail {

// Reads the records of `table` in `file` in the order of their row ids (the order records were added), the values
// of `fields` (their library field types in `types`), and hands them to `each` (False stops the reading); the
// views are valid during the call. `understood` is False for a record with a value stored in another form than its
// type's. Gives False when the file or table cannot be read this way (the caller then reads it through the
// engine); exceptions of `each` pass through.
bool ReadStoredRecords(const std::string& file, const std::string& table, const std::vector<std::string>& fields,
                       const std::vector<TFieldType>& types,
                       const std::function<bool(const std::vector<VariantView>& values, bool understood)>& each);

}  // namespace vez::detail
