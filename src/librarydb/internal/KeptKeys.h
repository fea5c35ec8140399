// Kept keys: the folded keys of unique case-insensitive indexes, and the case folding they are made with.
//
// SQLite's NOCASE folds ASCII letters only, but a unique case-insensitive index must hold "Äther" and "äther" as
// one name, as field and file names fold (core/CaseFold). Two keys fold alike either because they differ in the
// case of ASCII letters alone (the NOCASE index refuses the second) or because a letter beyond ASCII that folding
// changes ("Ä", "Ω", "Д") is involved. The engine keeps, in the bookkeeping table vez$keys (tbl, idx, key, rid),
// the folded key of every record that has such a letter. A new key beyond ASCII is looked up there (when the index
// has entries at all), and a key with such a letter also in the index itself by its folded text, which finds the
// records whose letters beyond ASCII fold to themselves. Names whose letters beyond ASCII are all lower case
// ("Straße", "Mühle") so cost one folding and no lookup. Records another program added get their entries at the
// engine's next write to the table (the highest row key covered is the table's counter of the field "", which no
// field can be named); an entry whose record another program deleted or renamed is recognised as stale.
//
// The writes (TableWrites.cpp) check a record's folded keys before they store it and keep vez$keys in step after;
// FindKey finds a key beyond ASCII by its folded form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/Variant.h"
#include "librarydb/internal/OpenTable.h"

namespace vez::detail {

using Index = TABSTable::Impl::Index;

// A record's key for an index, folded.
struct FoldedKeyOf {
  std::string key;      // "" when the NOCASE index alone decides (a field without value never collides)
  bool entry = false;   // a letter beyond ASCII folds: the record has an entry in vez$keys
  std::vector<Variant> folded;  // the key's values with their texts folded, for a look-up in the index
};

FoldedKeyOf FoldedKey(const Index& index, const std::vector<Variant>& values);

// The values of the record with row key `rid`; False when it is gone.
bool ReadRecord(TABSTable::Impl& t, std::int64_t rid, std::vector<Variant>& values);

// The record other than `self` whose key in folded index `i` (of t.folded) folds as `folded` does: its row key,
// or 0.
std::int64_t FoldedOwner(TABSTable::Impl& t, std::size_t i, const FoldedKeyOf& folded, std::int64_t self);
// Whether FindKey found `key` of folded index `i` in no record, with nothing written since (see Impl::absent).
bool StillAbsent(TABSTable::Impl& t, std::size_t i, const std::string& key);
// The record whose key in `index` folds as the whole key `keys` (the index's fields in order, normalised) does:
// its row key, or 0 (also for an index that keeps no folded keys). A miss inside a transaction is remembered
// for the insert that may follow (Impl::absent).
std::int64_t FindFoldedKey(TABSTable::Impl& t, const Index& index, const std::vector<Variant>& keys);

// vez$keys entries of one record.
void WriteKey(TABSTable::Impl& t, const Index& index, const std::string& key, std::int64_t rid);
void DropKey(TABSTable::Impl& t, const Index& index, const std::string& key, std::int64_t rid);
[[noreturn]] void FailFoldedKey(TABSTable::Impl& t, const Index& index, const std::vector<Variant>& values);

// Records that the folded keys cover the records up to row key `key` (the table's counter of the field "").
// Inside a transaction the table keeps the transaction's counter, as for the auto-increment fields.
void MoveKeysCovered(TABSTable::Impl& t, std::int64_t key);
// Gives the records that have no entries in vez$keys yet theirs (those after the highest row key covered) and
// learns which indexes have entries. Run before every write; inside a transaction, which holds the write lock, once.
void EnsureFoldedKeys(TABSTable::Impl& t);

}  // namespace vez::detail
