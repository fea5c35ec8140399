// New-record defaults of the library types.
//
// OnNewRecord fills the current record of a library table, right after Append, with the values a new library
// element of the type starts with: -199 dB for empty spectrum bands, 100 % for time courses, the train data of
// each rail standard's reference train, the time of the change, and so on. It puts the table into edit state
// (a record being inserted stays inserted) and never posts; the caller posts or cancels.
//
// Fields are looked up by name without regard to case; a field the type's defaults name but the table lacks
// makes the lookup fail with the engine's exception, except "DisplayValue" of the time libraries, which older
// tables do not have and which is then skipped. Nothing is caught.
//
// Times: "now" is the local date and time of the call. Where a default is written as text, the text is the
// short date and the long time of the process format settings (GlobalFormatSettings), whole seconds, and goes
// through the field's text setter, so it is read back with the same settings. The overload with `now` takes the
// clock reading from the caller (days since 30 December 1899, as every date-time value of the library), which
// makes the yearly course's "current year" and leap-year flag reproducible.
#pragma once

#include <cstdint>
#include <vector>

namespace vez {

class TABSTable;

// Assigns the defaults of LibType to the current record of Table. Types without defaults get nothing but the
// edit state; with RaiseIfUndefined they raise "OnNewRecord not defined for LibType" (after the edit state is
// set). Types that are known to start empty (4, 12, 13, 14, 15, 25, 26, 92, 96, 100 to 103) never raise.
void OnNewRecord(TABSTable& Table, std::int32_t LibType, bool RaiseIfUndefined);
void OnNewRecord(TABSTable& Table, std::int32_t LibType, bool RaiseIfUndefined, double now);

// The defaults of one library type bound to the fields of one open table, for filling many new records (a
// conversion, an import): the fields are looked up once, when the object is made, instead of for every record.
// Apply(now) does exactly what OnNewRecord(Table, LibType, false, now) does, failures included (a field the
// defaults name but the table lacks fails when its turn comes). The object is valid while the table stays open
// with the same fields; it is meant for one loop over records, during which the process format settings do not
// change: the value each assignment leaves in its field (a text is parsed with those settings) is made once
// and stored directly into the later records (a time-dependent one again when the clock reading changes).
class TNewRecordDefaults {
public:
  TNewRecordDefaults(TABSTable& Table, std::int32_t LibType);
  ~TNewRecordDefaults();
  TNewRecordDefaults(const TNewRecordDefaults&) = delete;
  TNewRecordDefaults& operator=(const TNewRecordDefaults&) = delete;

  // False for a type without defaults.
  bool Defined() const { return defined_; }
  void Apply(double now);
  // Apply, but the fields whose index `skip` marks keep what they hold: for a caller that sets them in every new
  // record before it posts, so their defaults would be overwritten unread. A field the table lacks fails as in
  // Apply.
  void Apply(double now, const std::vector<bool>& skip);

private:
  struct Step;
  TABSTable& table_;
  bool defined_ = false;
  std::vector<Step> steps_;
};

// Whether LibType has a row in the table of defaults (possibly an empty one).
bool HasNewRecordDefaults(std::int32_t LibType);

}  // namespace vez
