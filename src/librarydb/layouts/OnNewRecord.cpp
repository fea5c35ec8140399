// OnNewRecord: the new-record defaults written into the current record of a library table.
#include <algorithm>
#include <string>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"
#include "librarydb/Defaults.h"
#include "librarydb/layouts/DefaultRows.h"

namespace vez {

// One assignment, its field looked up: `field` is null for a field the table lacks, whose look-up then fails
// by name when the assignment's turn comes. Constant values are made once. `stored` marks an assignment whose
// field only constants reach: after the first complete Apply its result is stored instead (see `stored_`).
struct TNewRecordDefaults::Step {
  TField* field;
  std::string name;
  const detail::DefaultRow* row;
  const detail::Assignment* column;
  Variant constant;
  bool stored = false;
};

TNewRecordDefaults::TNewRecordDefaults(TABSTable& Table, std::int32_t LibType) : table_(Table) {
  const auto rows = detail::FindDefaultRows(LibType, defined_);
  detail::ForEachDefault(rows, [&](const detail::DefaultRow& row, const detail::Assignment& column,
                                   std::string_view name) {
    TField* field = table_.FindField(name);
    if (field == nullptr && row.tolerant) return;
    Variant constant;
    if (row.source == detail::Source::Constant) constant = detail::DefaultValue(row, column, 0.0);
    steps_.push_back(Step{field, field ? std::string() : std::string(name), &row, &column, std::move(constant)});
  });
  // Fields that a clock reading, a BLOB stream or a failing look-up reaches are assigned step by step every
  // time; the assignments of the other fields commute with those, so their results can be stored up front.
  std::vector<const TField*> always;
  for (const Step& step : steps_) {
    if (step.field == nullptr || step.row->source != detail::Source::Constant ||
        step.row->setter == detail::Setter::BlobZeros)
      always.push_back(step.field);
  }
  for (Step& step : steps_) {
    step.stored = step.field != nullptr && std::find(always.begin(), always.end(), step.field) == always.end();
  }
}

TNewRecordDefaults::~TNewRecordDefaults() = default;

void TNewRecordDefaults::Apply(double now) {
  using detail::Setter;
  table_.Edit();
  const bool replay = !stored_.empty();
  for (const auto& [field, value] : stored_) field->Store(value);
  for (const Step& step : steps_) {
    if (replay && step.stored) continue;
    TField& field = step.field ? *step.field : table_.FieldByName(step.name);
    const detail::DefaultRow& row = *step.row;
    if (row.setter == Setter::BlobZeros) {
      TABSBLOBStream stream(field, TBlobStreamMode::bmWrite);
      stream.Write(std::string(static_cast<std::size_t>(row.size), '\0'));
      continue;
    }
    Variant computed;
    if (row.source != detail::Source::Constant) computed = detail::DefaultValue(row, *step.column, now);
    const Variant& value = row.source == detail::Source::Constant ? step.constant : computed;
    switch (row.setter) {
      case Setter::Value: field.SetValue(value); break;
      case Setter::Text: field.SetAsString(value.AsString()); break;
      case Setter::Integer: field.SetAsInteger(static_cast<std::int32_t>(value.AsInteger())); break;
      case Setter::Boolean: field.SetAsBoolean(value.AsBoolean()); break;
      case Setter::Float: field.SetAsFloat(value.AsFloat()); break;
      case Setter::DateTime: field.SetAsDateTime(value.AsDateTime()); break;
      case Setter::BlobZeros: break;
    }
  }
  if (!replay) {
    // Every assignment went through: what the constants left in their fields is what they will leave again.
    for (const Step& step : steps_) {
      if (!step.stored) continue;
      const auto known = std::find_if(stored_.begin(), stored_.end(),
                                      [&](const auto& entry) { return entry.first == step.field; });
      if (known == stored_.end()) stored_.emplace_back(step.field, step.field->Current());
    }
  }
}

void OnNewRecord(TABSTable& Table, std::int32_t LibType, bool RaiseIfUndefined, double now) {
  Table.Edit();
  TNewRecordDefaults defaults(Table, LibType);
  if (!defaults.Defined()) {
    if (RaiseIfUndefined) throw Exception("OnNewRecord not defined for LibType");
    return;
  }
  defaults.Apply(now);
}

void OnNewRecord(TABSTable& Table, std::int32_t LibType, bool RaiseIfUndefined) {
  OnNewRecord(Table, LibType, RaiseIfUndefined, Now());
}

}  // namespace vez
