#include "import/Impcnst.h"

#include "output/JsonWriter.h"

namespace vez {

namespace {
constexpr std::size_t kListed = 0
#define VEZ_IMPORT_TEXT(name, text) +1
#include "import/mapping/ImpcnstTexts.h"
#undef VEZ_IMPORT_TEXT
    ;
static_assert(kListed == kImportTextCount, "every wizard text has its entry");
}  // namespace

TImportTexts& ImportTexts() {
  static TImportTexts texts;
  return texts;
}

const std::array<TImportTextEntry, kImportTextCount>& ImportTextEntries() {
  static const std::array<TImportTextEntry, kImportTextCount> entries{{
#define VEZ_IMPORT_TEXT(name, text) {#name, &TImportTexts::name},
#include "import/mapping/ImpcnstTexts.h"
#undef VEZ_IMPORT_TEXT
  }};
  return entries;
}

TImportDialogTexts& ImportDialogTexts() {
  static TImportDialogTexts texts;
  return texts;
}

const std::vector<TImportDialogTextEntry>& ImportDialogTextEntries() {
  static const std::vector<TImportDialogTextEntry> entries{
#define VEZ_DIALOG_TEXT(name, text) {#name, &TImportDialogTexts::name},
#include "import/mapping/ImportDialogTexts.h"
#undef VEZ_DIALOG_TEXT
  };
  return entries;
}

void WriteImportTextsJson(std::ostream& out) {
  JsonWriter json(out, JsonWriter::Layout::Indented);
  json.BeginObject().Key("dialogs").BeginObject();
  for (const auto& e : ImportDialogTextEntries()) json.Member(e.Name, ImportDialogTexts().*e.Text);
  json.EndObject().Key("wizard").BeginObject();
  for (const auto& e : ImportTextEntries()) json.Member(e.Name, ImportTexts().*e.Text);
  json.EndObject().EndObject();
  out << '\n';
}

}  // namespace vez
