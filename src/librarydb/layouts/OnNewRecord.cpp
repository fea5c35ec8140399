// OnNewRecord: the new-record defaults written into the current record of a library table.
#include <string>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"
#include "librarydb/Defaults.h"
#include "librarydb/layouts/DefaultRows.h"

namespace vez {

// One assignment, its field looked up: `field` is null for a field the table lacks, whose look-up then fails
// by name when the assignment's turn comes. Constant values are made once. Every setter replaces the whole
// value of its field, so the value an assignment left is what it leaves again for the same clock reading:
// `result` keeps it (for a time-dependent assignment with the reading `resultNow`) and is stored directly.
struct TNewRecordDefaults::Step {
  TField* field;
  std::string name;
  const detail::DefaultRow* row;
  const detail::Assignment* column;
  Variant constant;
  bool hasResult = false;
  double resultNow = 0.0;
  Variant result;
};

TNewRecordDefaults::TNewRecordDefaults(TABSTable& Table, std::int32_t LibType) : table_(Table) {
  const auto rows = detail::FindDefaultRows(LibType, defined_);
  detail::ForEachDefault(rows, [&](const detail::DefaultRow& row, const detail::Assignment& column,
                                   std::string_view name) {
    TField* field = table_.FindField(name);
    if (field == nullptr && row.tolerant) return;
    Variant constant;
    if (row.source == detail::Source::Constant) constant = detail::DefaultValue(row, column, 0.0);
    steps_.push_back(
        Step{field, field ? std::string() : std::string(name), &row, &column, std::move(constant), false, 0.0, {}});
  });
}

TNewRecordDefaults::~TNewRecordDefaults() = default;

void TNewRecordDefaults::Apply(double now) { Apply(now, {}); }

void TNewRecordDefaults::Apply(double now, const std::vector<bool>& skip) {
  using detail::Setter;
  using detail::Source;
  table_.Edit();
  for (Step& step : steps_) {
    TField& field = step.field ? *step.field : table_.FieldByName(step.name);
    if (const auto i = static_cast<std::size_t>(field.Index()); i < skip.size() && skip[i]) continue;
    const detail::DefaultRow& row = *step.row;
    if (row.setter == Setter::BlobZeros) {
      TABSBLOBStream stream(field, TBlobStreamMode::bmWrite);
      stream.Write(std::string(static_cast<std::size_t>(row.size), '\0'));
      continue;
    }
    if (step.hasResult && (row.source == Source::Constant || step.resultNow == now)) {
      field.Store(step.result);
      continue;
    }
    Variant computed;
    if (row.source != Source::Constant) computed = detail::DefaultValue(row, *step.column, now);
    const Variant& value = row.source == Source::Constant ? step.constant : computed;
    switch (row.setter) {
      case Setter::Value: field.SetValue(value); break;
      case Setter::Text: field.SetAsString(value.AsString()); break;
      case Setter::Integer: field.SetAsInteger(static_cast<std::int32_t>(value.AsInteger())); break;
      case Setter::Boolean: field.SetAsBoolean(value.AsBoolean()); break;
      case Setter::Float: field.SetAsFloat(value.AsFloat()); break;
      case Setter::DateTime: field.SetAsDateTime(value.AsDateTime()); break;
      case Setter::BlobZeros: break;
    }
    step.result = field.Current();
    step.resultNow = now;
    step.hasResult = true;
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
