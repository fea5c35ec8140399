// The pictures: the spectrum of an element library record with its protocol text, and the TNM emission of a
// vehicle (reference constants or a TNM vehicle library record) with its 24 bands and sum. The numbers and the
// charts come from the same calls as `vezi spectrum` and `vezi tnm`.
#include <cmath>
#include <optional>
#include <sstream>

#include <fmt/format.h>

#include "acoustics/Bands.h"
#include "acoustics/TNM.h"
#include "emission/SpectrumLibrary.h"
#include "emission/SpectrumReport.h"
#include "emission/TNMLibrary.h"
#include "librarydb/OVLibConst.h"
#include "output/ValueText.h"
#include "web/internal/Http.h"

namespace vez::web {

namespace fs = std::filesystem;

void RegisterPictureRoutes(TRoutes& routes) {
  TContext& c = routes.Context();

  // The bands of an element library record, also of one that is not complete (its gaps marked "no value"),
  // with the protocol `vezi spectrum` prints and the chart `vezi spectrum --svg` draws.
  routes.Get("/api/spectrum", [&c](const httplib::Request& req, httplib::Response& res) {
    const fs::path file = c.Folder.Resolve(Query(req, "path"));
    const auto nr = static_cast<std::int32_t>(QueryInt(req, "nr", 0, std::numeric_limits<std::int32_t>::min(),
                                                       std::numeric_limits<std::int32_t>::max()));
    const bool logarithmic = QueryBool(req, "log"), clamp = QueryBool(req, "clamp");
    TElementBands bands = ReadElementBands(nr, file.string(), clamp);
    const std::string incomplete = IncompleteMessage(bands);
    std::string protocol = ElementBandsText(bands, logarithmic);
    if (incomplete.empty()) {
      std::ostringstream out;
      ReadElementSpectrum(nr, file.string(), clamp).Spectrum.Protok(out, logarithmic);
      protocol = out.str();
    }
    bands.LibName = c.Folder.Relative(file);  // the page names files from the served folder
    Reply(res, [&](JsonWriter& json) {
      json.BeginObject()
          .Member("name", bands.ElementName)
          .Member("complete", incomplete.empty())
          .Member("message", IncompleteMessage(bands))
          .Member("protocol", protocol)
          .Member("svg", ElementBandsChartSvg(bands, logarithmic))
          .EndObject();
    });
  });

  routes.Get("/api/tnm", [&c](const httplib::Request& req, httplib::Response& res) {
    TTNMRequest request;
    request.Pavement = ParseTNMPavement(Query(req, "pavement"));
    request.FullThrottle = QueryBool(req, "full_throttle") ? ftYes : ftNo;
    request.SpeedKmh = ParseTNMSpeed(Query(req, "speed"));
    if (req.has_param("vehicle") && !req.get_param_value("vehicle").empty())
      request.Vehicle = ParseTNMVehicle(req.get_param_value("vehicle"));
    if (req.has_param("library")) {
      request.Library = c.Folder.Resolve(Query(req, "library")).string();
      request.Record = static_cast<std::int32_t>(QueryInt(req, "record", 0, 0, std::numeric_limits<std::int32_t>::max()));
    } else if (!request.Vehicle) {
      throw EHttpError(400, "Give a vehicle, or a TNM vehicle library with a record");
    }
    const TTNMResult r = ComputeTNMEmission(request);
    const std::vector<TBandValue> bands = TNMBands(r.Bands);
    Reply(res, [&](JsonWriter& json) {
      json.BeginObject()
          .Member("heading", r.Heading)
          .Member("text", SpectrumText(r.Heading, "dB(A)", r.Sum, bands))
          .Key("result")
          .Raw(SpectrumJson(r.Sum, bands))
          .Member("svg", TNMChartSvg(request, r))
          .EndObject();
    });
  });

  // The band grid with the corrections of a weighting (A, B, C, D, or Z for none), as `vezi bands --weighting`.
  routes.Get("/api/bands", [](const httplib::Request& req, httplib::Response& res) {
    const std::string weighting = req.has_param("weighting") ? req.get_param_value("weighting") : "Z";
    const char filter = ParseWeighting(weighting);
    Reply(res, [&](JsonWriter& json) {
      json.BeginObject().Member("weighting", weighting).Key("bands").BeginArray();
      for (int n = 1; n <= 30; ++n)
        json.BeginObject()
            .Member("band", n)
            .Member("hz", BandCentreHz(terzen[n]))
            .Member("field", "Values" + std::to_string(n))
            .Member("correction", FloatAsDecimal(dBFilterDifferenz(filter, terzen[n])) + 0.0)
            .EndObject();
      json.EndArray().EndObject();
    });
  });
}

}  // namespace vez::web
