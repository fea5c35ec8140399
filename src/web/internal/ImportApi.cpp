#include "web/internal/Http.h"

namespace vez::web {

class TImportSessions {};

std::shared_ptr<TImportSessions> MakeImportSessions() { return std::make_shared<TImportSessions>(); }
void StopImports(TImportSessions&) {}
void WaitForImports(TImportSessions&) {}
void RegisterImportRoutes(TRoutes&) {}

}  // namespace vez::web
