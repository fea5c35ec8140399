// The texts of the windows' controls, sent to the pages so that every caption, button and label shows the
// system's own text (also its accessible name). Texts the logic classes hold are taken from them; the control
// texts of the dialogs that no class holds yet are listed here, in one place. The import wizard's text table
// goes along, for the captions of the import's summary.
#include "convert/ConvertParadox.h"
#include "import/EImport1.h"
#include "import/Impcnst.h"
#include "import/NameAlreadyExists.h"
#include "web/internal/Http.h"

namespace vez::web {

namespace {

// Control texts of the conversion window and the import dialogs.
constexpr std::pair<const char*, const char*> kControlTexts[] = {
    {"ConvertLabel", "Converting ..."},
    {"ImportStartLine", "Start Import From Line#"},
    {"ImportStopLine", "Stop Import at Line#"},
    {"ImportDefineLink", "Define Link"},
    {"ImportClear", "Clear"},
    {"ImportAutoLink", "Auto Link"},
    {"ImportStart", "Start Import"},
    {"ImportCancel", "Cancel"},
    {"ImportHelp", "Help"},
    {"LinkCol", "Col"},
    {"LinkFix", "fix"},
    {"LinkArrow", "------->"},
    {"LinkOK", "OK"},
    {"LinkCancel", "Cancel"},
    {"LinkApply", "Apply"},
    {"NameNewName", ">>"},
    {"NameOK", "OK"},
    {"NameCancel", "Cancel"},
    {"NameInputCaption", "Enter new name:"},
};

}  // namespace

void RegisterTextRoutes(TRoutes& routes) {
  routes.Get("/api/texts", [](const httplib::Request&, httplib::Response& res) {
    Reply(res, [](JsonWriter& json) {
      json.BeginObject();
      json.Member("ConvertCaption", TConvParadox::Caption);
      json.Member("LinkCaption", TSelectColForm().Caption);
      for (const auto& [key, text] : kControlTexts) json.Member(key, text);
      json.Key("NameItems").BeginArray();
      for (const std::string& item : TFormNameExists::Items()) json.String(item);
      json.EndArray();
      json.Key("Wizard").BeginObject();
      const TImportTexts& texts = ImportTexts();
      for (const TImportTextEntry& entry : ImportTextEntries()) json.Member(entry.Name, texts.*entry.Text);
      json.EndObject();
      json.EndObject();
    });
  });
}

}  // namespace vez::web
