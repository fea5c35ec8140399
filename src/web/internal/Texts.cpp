// The texts of the windows' controls, sent to the pages so that every caption, button and label shows the
// system's own text (also its accessible name): the conversion window's caption and its labels' first text,
// and the import's text tables (the dialogs' controls and messages, the wizard's texts), as a program may have
// replaced them.
#include <sstream>

#include "convert/ConvertParadox.h"
#include "import/Impcnst.h"
#include "web/internal/Http.h"

namespace vez::web {

namespace {
// The labels of the conversion window show this until the run names the folder and the file.
constexpr const char* kConvertingLabel = "Converting ...";
}  // namespace

void RegisterTextRoutes(TRoutes& routes) {
  routes.Get("/api/texts", [](const httplib::Request&, httplib::Response& res) {
    std::ostringstream import;
    WriteImportTextsJson(import);
    Reply(res, [&](JsonWriter& json) {
      json.BeginObject()
          .Key("convert")
          .BeginObject()
          .Member("caption", TConvParadox::Caption)
          .Member("label", kConvertingLabel)
          .EndObject()
          .Key("import")
          .Raw(import.str())
          .EndObject();
    });
  });
}

}  // namespace vez::web
