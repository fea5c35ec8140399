// SetFieldIndexDefs and SetIndexDefs: the layouts handed to a library table's definitions.
#include "core/Exceptions.h"
#include "librarydb/Absmain.h"
#include "librarydb/Layouts.h"

namespace vez {
namespace {

// The dataset layer's type of a column kind in a classic layout.
TFieldType ClassicFieldType(ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Text: return ftString;
    case ColumnKind::Int16: return ftSmallint;
    case ColumnKind::Int32: return ftInteger;
    case ColumnKind::UInt16: return ftWord;
    case ColumnKind::AutoInc: return ftAutoInc;
    case ColumnKind::Double: return ftFloat;
    case ColumnKind::Boolean: return ftBoolean;
    case ColumnKind::DateTime: return ftDateTime;
    case ColumnKind::Blob: return ftBlob;
    case ColumnKind::Graphic: return ftGraphic;
    case ColumnKind::Memo: return ftMemo;
  }
  return ftUnknown;
}

void ReplaceIndexDefs(TABSTable& table, const std::vector<IndexLayout>& indexes) {
  TIndexDefs& defs = table.IndexDefs();
  defs.Clear();
  for (const IndexLayout& index : indexes) defs.Add(index.Name, index.Fields, index.Options);
}

}  // namespace

bool SetFieldIndexDefs(TABSTable& Table, std::int32_t LibType, bool RaiseIfUndefined) {
  const std::optional<TableLayout> layout = LibraryLayout(LibType);
  if (!layout) {
    if (RaiseIfUndefined) throw Exception("SetFieldIndexDefs not defined for LibType");
    return false;
  }
  if (layout->Family == LayoutFamily::Classic) {
    TFieldDefs& defs = Table.FieldDefs();
    defs.Clear();
    for (const FieldLayout& f : layout->Fields) defs.Add(f.Name, ClassicFieldType(f.Kind), f.Size, f.Required);
  } else {
    TABSAdvFieldDefs& defs = Table.AdvFieldDefs();
    defs.Clear();
    for (const FieldLayout& f : layout->Fields) {
      defs.Add(f.Name, EngineTypeCode(f.Kind), f.Size, f.Required, f.CompressionAlgorithm, f.CompressionLevel);
    }
  }
  ReplaceIndexDefs(Table, layout->Indexes);
  return true;
}

bool SetIndexDefs(TABSTable& Table, std::int32_t LibType, bool RaiseIfUndefined) {
  const bool hasStoffNr = Table.FieldDefs().IndexOf("StoffNr") >= 0 || Table.AdvFieldDefs().IndexOf("StoffNr") >= 0;
  const std::optional<std::vector<IndexLayout>> indexes = LibraryIndexLayout(LibType, hasStoffNr);
  if (!indexes) {
    if (RaiseIfUndefined) throw Exception("SetIndexDefs not defined for LibType");
    return false;
  }
  ReplaceIndexDefs(Table, *indexes);
  return true;
}

}  // namespace vez
