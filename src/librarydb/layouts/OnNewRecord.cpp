// OnNewRecord: the new-record defaults written into the current record of a library table.
#include <string>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "librarydb/Absmain.h"
#include "librarydb/Defaults.h"
#include "librarydb/layouts/DefaultRows.h"

namespace vez {
namespace {

// Writes into the current record through the setter each default names.
class TableSink : public detail::FieldSink {
public:
  explicit TableSink(TABSTable& table) : table_(table) {}

  bool HasField(std::string_view name) override { return table_.FindField(name) != nullptr; }

  void Assign(std::string_view name, detail::Setter setter, const Variant& value) override {
    TField& field = table_.FieldByName(name);
    switch (setter) {
      case detail::Setter::Value: field.SetValue(value); break;
      case detail::Setter::Text: field.SetAsString(value.AsString()); break;
      case detail::Setter::Integer: field.SetAsInteger(static_cast<std::int32_t>(value.AsInteger())); break;
      case detail::Setter::Boolean: field.SetAsBoolean(value.AsBoolean()); break;
      case detail::Setter::Float: field.SetAsFloat(value.AsFloat()); break;
      case detail::Setter::DateTime: field.SetAsDateTime(value.AsDateTime()); break;
      case detail::Setter::BlobZeros:
        // BLOB rows carry their size and arrive through WriteZeroBlob; a plain value cannot fill them.
        throw Exception("BLOB default of field '" + std::string(name) + "' needs its size");
    }
  }

  void WriteZeroBlob(std::string_view name, std::int32_t size) override {
    TABSBLOBStream stream(table_.FieldByName(name), TBlobStreamMode::bmWrite);
    const std::string zeros(static_cast<std::size_t>(size), '\0');
    stream.Write(zeros);
  }

private:
  TABSTable& table_;
};

}  // namespace

void OnNewRecord(TABSTable& Table, std::int32_t LibType, bool RaiseIfUndefined, double now) {
  Table.Edit();
  bool found = false;
  const auto rows = detail::FindDefaultRows(LibType, found);
  if (!found) {
    if (RaiseIfUndefined) throw Exception("OnNewRecord not defined for LibType");
    return;
  }
  TableSink sink(Table);
  detail::ApplyDefaults(rows, now, sink);
}

void OnNewRecord(TABSTable& Table, std::int32_t LibType, bool RaiseIfUndefined) {
  OnNewRecord(Table, LibType, RaiseIfUndefined, Now());
}

}  // namespace vez
