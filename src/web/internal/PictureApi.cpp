// The pictures: the spectrum of an element library record with its protocol text, and the TNM emission of a
// vehicle (reference constants or a TNM vehicle library record) with its 24 bands and sum. The numbers and the
// charts come from the same calls as `vezi spectrum` and `vezi tnm`.
#include <cmath>
#include <optional>
#include <sstream>

#include <fmt/format.h>

#include "acoustics/TNM.h"
#include "emission/SpectrumLibrary.h"
#include "emission/SpectrumReport.h"
#include "emission/TNMLibrary.h"
#include "librarydb/OVLibConst.h"
#include "web/internal/Http.h"

namespace vez::web {

namespace fs = std::filesystem;

namespace {

template <typename T, std::size_t N>
T Choice(const httplib::Request& req, const char* name, const std::pair<const char*, T> (&choices)[N]) {
  const std::string v = Query(req, name);
  std::string known;
  for (const auto& [text, value] : choices) {
    if (v == text) return value;
    known += (known.empty() ? "" : ", ") + std::string(text);
  }
  throw EHttpError(400, "The parameter \"" + std::string(name) + "\" must be one of " + known);
}

constexpr std::pair<const char*, TBaseVehType> kVehicles[] = {
    {"auto", vtAu}, {"mt", vtMT}, {"ht", vtHT}, {"bus", vtBus}, {"mc", vtMC}};
constexpr std::pair<const char*, TPavementType> kPavements[] = {
    {"avg", ptAvg}, {"dgac", ptDGAC}, {"ogac", ptOGAC}, {"pcc", ptPCC}};

double Speed(const httplib::Request& req) {
  const std::string text = Query(req, "speed");
  double v = 0;
  std::istringstream in(text);
  in >> v;
  if (!in || !in.eof() || !(v >= 0 && v <= 1000)) throw EHttpError(400, "The speed must be a number from 0 to 1000 km/h");
  return v;
}

}  // namespace

void RegisterPictureRoutes(TRoutes& routes) {
  TContext& c = routes.Context();

  routes.Get("/api/spectrum", [&c](const httplib::Request& req, httplib::Response& res) {
    const std::string path = Query(req, "path");
    const fs::path file = c.Folder.Resolve(path);
    const auto nr = static_cast<std::int32_t>(QueryInt(req, "nr", 0, std::numeric_limits<std::int32_t>::min(),
                                                       std::numeric_limits<std::int32_t>::max()));
    const bool logarithmic = QueryBool(req, "log");
    float single = 0;
    const TSpectrum s = SpectrumFromLibrary(nr, file.string(), QueryBool(req, "clamp") ? 1 : 0, single);
    std::vector<TBandValue> bands;
    for (int i = 1; i <= s.Count; ++i) {
      double v = s.Get(i);
      if (logarithmic) v = v > 1e-6 ? 10.0 * std::log10(v) : -60.0;
      bands.push_back({s.GetFreq(static_cast<std::uint8_t>(i)), static_cast<float>(v)});
    }
    TChartOptions chart;
    chart.Title = fmt::format("Spectrum #{} of {}", nr, file.filename().string());
    chart.Subtitle = fmt::format("{} bands {} Hz .. {} Hz, single value {:g}", s.Kind == 'T' ? "third-octave" : "octave",
                                 s.fu, s.fo, single);
    chart.YLabel = logarithmic ? "10 lg(value) dB" : "Value";
    chart.ZeroBased = !logarithmic;
    std::ostringstream protocol;
    s.Protok(protocol, logarithmic);
    Reply(res, [&](JsonWriter& json) {
      json.BeginObject()
          .Member("protocol", protocol.str())
          .Member("title", chart.Title + ", " + chart.Subtitle)
          .Member("svg", SpectrumBarChartSvg(bands, chart))
          .EndObject();
    });
  });

  routes.Get("/api/tnm", [&c](const httplib::Request& req, httplib::Response& res) {
    const TPavementType pavement = Choice(req, "pavement", kPavements);
    const TFullThrottle throttle = QueryBool(req, "full_throttle") ? ftYes : ftNo;
    const double speed = Speed(req);
    std::optional<TBaseVehType> vehicle;
    if (req.has_param("vehicle") && !req.get_param_value("vehicle").empty()) vehicle = Choice(req, "vehicle", kVehicles);
    TTNMEmisConsts consts;
    std::string what;
    if (!req.has_param("library")) {
      if (!vehicle) throw EHttpError(400, "Give a vehicle, or a TNM vehicle library with a record");
      consts.BaseVT = *vehicle;
      consts.SetTNMConstants(*vehicle, pavement, false);
      what = VehTypesTNM()[*vehicle];
    } else {
      const std::string path = Query(req, "library");
      const auto record = static_cast<std::int32_t>(QueryInt(req, "record", 0, 0, std::numeric_limits<std::int32_t>::max()));
      TMyTable lib(c.Folder.Resolve(path).string(), true);
      if (!ReadFromDataBase(consts, lib.Table(), record, pavement))
        throw EHttpError(404, fmt::format("Record {} is not in \"{}\"", record, path));
      lib.Table().Close();
      if (consts.BaseVT < vtAu || consts.BaseVT > vtMC)
        throw Exception(fmt::format("Record {} has the unknown vehicle type {}", record, static_cast<int>(consts.BaseVT)));
      what = fmt::format("{} (record {}, {})", consts.ElementName, record, VehTypesTNM()[consts.BaseVT]);
    }
    float sum = 0;
    TTNMSpectrum spectrum{};
    consts.CalcSumAndSpectrum(throttle, static_cast<float>(speed), sum, spectrum);
    const std::vector<TBandValue> bands = TNMBands(spectrum);
    const std::string heading =
        fmt::format("{}, {}, {}, {:g} km/h", what, TNMPavementName(pavement), TNMThrottleName(throttle), speed);
    TChartOptions chart;
    chart.Title = "TNM emission: " + heading;
    chart.Subtitle = fmt::format("Sum {:.2f} dB(A)", sum);
    chart.YLabel = "Level dB(A)";
    Reply(res, [&](JsonWriter& json) {
      json.BeginObject()
          .Member("heading", heading)
          .Member("text", SpectrumText(heading, "dB(A)", sum, bands))
          .Key("result")
          .Raw(SpectrumJson(sum, bands))
          .Member("svg", SpectrumBarChartSvg(bands, chart))
          .EndObject();
    });
  });
}

}  // namespace vez::web
