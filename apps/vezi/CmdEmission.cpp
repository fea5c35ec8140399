// vezi tnm and spectrum: emission spectra from the command line.
//
// tnm       the TNM emission of one vehicle type on one pavement at one speed, from the reference constants
//           or from a record of a TNM vehicle library: 24 third-octave band levels and their sum, as text or
//           JSON, and optionally as an SVG bar chart.
// spectrum  a spectrum of an element library record: its protocol, and optionally an SVG bar chart.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include <fmt/format.h>

#include "Commands.h"
#include "acoustics/Fgang.h"
#include "acoustics/TNM.h"
#include "core/Exceptions.h"
#include "emission/SpectrumLibrary.h"
#include "emission/SpectrumReport.h"
#include "emission/TNMLibrary.h"
#include "librarydb/OVLibConst.h"

namespace vezi {

namespace {

namespace fs = std::filesystem;

const std::map<std::string, vez::TBaseVehType>& VehicleNames() {
  static const std::map<std::string, vez::TBaseVehType> names{
      {"auto", vez::vtAu}, {"mt", vez::vtMT}, {"ht", vez::vtHT}, {"bus", vez::vtBus}, {"mc", vez::vtMC}};
  return names;
}

const std::map<std::string, vez::TPavementType>& PavementNames() {
  static const std::map<std::string, vez::TPavementType> names{
      {"avg", vez::ptAvg}, {"dgac", vez::ptDGAC}, {"ogac", vez::ptOGAC}, {"pcc", vez::ptPCC}};
  return names;
}

void CheckFileExists(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) throw vez::Exception("no such file: '" + path + "'");
}

// Writes the text to a file next to `path` and moves it into place, so a failed write leaves no half file.
void WriteFileAtomically(const std::string& path, const std::string& text) {
  const std::string partial = path + ".part";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    if (!out) throw vez::Exception("cannot write '" + path + "'");
    out << text;
    out.close();
    if (!out) {
      std::error_code ec;
      fs::remove(partial, ec);
      throw vez::Exception("cannot write '" + path + "'");
    }
  }
  std::error_code ec;
  fs::rename(partial, path, ec);
  if (ec) {
    fs::remove(partial, ec);
    throw vez::Exception("cannot write '" + path + "'");
  }
}

struct TnmOptions {
  std::string vehicle;
  std::string pavement;
  bool fullThrottle = false;
  double speed = 0;
  std::string library;
  std::int32_t record = 0;
  std::string format = "text";
  std::string svg;
};

void RunTnm(const TnmOptions& o) {
  const vez::TPavementType pavement = PavementNames().at(o.pavement);
  const vez::TFullThrottle throttle = o.fullThrottle ? vez::ftYes : vez::ftNo;
  std::optional<vez::TBaseVehType> vehicle;
  if (!o.vehicle.empty()) vehicle = VehicleNames().at(o.vehicle);

  vez::TTNMEmisConsts consts;
  std::string what;  // the heading: vehicle, and with a library the record
  if (o.library.empty()) {
    if (!vehicle) throw CLI::ValidationError("--vehicle", "give --vehicle, or --library with --record");
    consts.BaseVT = *vehicle;
    consts.SetTNMConstants(*vehicle, pavement, false);
    what = vez::VehTypesTNM()[*vehicle];
  } else {
    CheckFileExists(o.library);
    vez::TMyTable lib(o.library, true);
    if (!vez::ReadFromDataBase(consts, lib.Table(), o.record, pavement)) {
      throw vez::Exception(fmt::format("record {} not found in '{}'", o.record, o.library));
    }
    lib.Table().Close();
    const int vt = consts.BaseVT;
    if (vt < vez::vtAu || vt > vez::vtMC) {
      throw vez::Exception(fmt::format("record {} has the unknown vehicle type {}", o.record, vt));
    }
    if (vehicle && *vehicle != consts.BaseVT) {
      throw vez::Exception(fmt::format("record {} holds {}, not {}", o.record, vez::VehTypesTNM()[consts.BaseVT],
                                       vez::VehTypesTNM()[*vehicle]));
    }
    what = fmt::format("{} (record {}, {})", consts.ElementName, o.record, vez::VehTypesTNM()[consts.BaseVT]);
  }

  float sum = 0;
  vez::TTNMSpectrum spectrum{};
  consts.CalcSumAndSpectrum(throttle, static_cast<float>(o.speed), sum, spectrum);
  const std::vector<vez::TBandValue> bands = vez::TNMBands(spectrum);
  const std::string heading = fmt::format("{}, {}, {}, {:g} km/h", what, vez::TNMPavementName(pavement),
                                          vez::TNMThrottleName(throttle), o.speed);

  if (!o.svg.empty()) {
    vez::TChartOptions chart;
    chart.Title = "TNM emission: " + heading;
    chart.Subtitle = fmt::format("Sum {:.2f} dB(A)", sum);
    chart.YLabel = "Level dB(A)";
    WriteFileAtomically(o.svg, vez::SpectrumBarChartSvg(bands, chart));
  }
  std::cout << (o.format == "json" ? vez::SpectrumJson(sum, bands) : vez::SpectrumText(heading, "dB(A)", sum, bands));
  SetExitCode(kExitOk);
}

void RunSpectrum(const std::string& path, std::int32_t nr, bool clamp, bool logarithmic, const std::string& svg) {
  CheckFileExists(path);
  float single = 0;
  const vez::TSpectrum s = vez::SpectrumFromLibrary(nr, path, clamp ? 1 : 0, single);
  if (!svg.empty()) {
    std::vector<vez::TBandValue> bands;
    for (int i = 1; i <= s.Count; ++i) {
      double v = s.Get(i);
      if (logarithmic) v = v > 1e-6 ? 10.0 * std::log10(v) : -60.0;
      bands.push_back({s.GetFreq(static_cast<std::uint8_t>(i)), static_cast<float>(v)});
    }
    vez::TChartOptions chart;
    chart.Title = fmt::format("Spectrum #{} of {}", nr, fs::path(path).filename().string());
    chart.Subtitle = fmt::format("{} bands {} Hz .. {} Hz, single value {:g}",
                                 s.Kind == 'T' ? "third-octave" : "octave", s.fu, s.fo, single);
    chart.YLabel = logarithmic ? "10 lg(value) dB" : "Value";
    chart.ZeroBased = !logarithmic;
    WriteFileAtomically(svg, vez::SpectrumBarChartSvg(bands, chart));
  }
  std::ostringstream protocol;
  s.Protok(protocol, logarithmic);
  std::cout << protocol.str();
  SetExitCode(kExitOk);
}

}  // namespace

void RegisterEmissionCommands(CLI::App& app) {
  {
    auto* cmd = app.add_subcommand("tnm", "TNM vehicle emission: 24 third-octave band levels 50 Hz..10 kHz and sum");
    auto o = std::make_shared<TnmOptions>();
    cmd->add_option("--vehicle", o->vehicle, "Vehicle type: auto, mt (medium trucks), ht (heavy trucks), bus, mc")
        ->check(CLI::IsMember({"auto", "mt", "ht", "bus", "mc"}));
    cmd->add_option("--pavement", o->pavement, "Pavement: avg, dgac, ogac or pcc")
        ->required()
        ->check(CLI::IsMember({"avg", "dgac", "ogac", "pcc"}));
    cmd->add_flag("--full-throttle", o->fullThrottle, "Full-throttle operation instead of cruise");
    cmd->add_option("--speed", o->speed, "Speed in km/h (0 gives the idle level)")
        ->required()
        ->check(CLI::Range(0.0, 1000.0));
    auto* library = cmd->add_option("--library", o->library, "TNM vehicle library (TNMVeh.abs) to read the constants from");
    auto* record = cmd->add_option("--record", o->record, "Record number (\"Eintrag\") in --library");
    library->needs(record);
    record->needs(library);
    cmd->add_option("--format", o->format, "Output: text (default) or json")->check(CLI::IsMember({"text", "json"}));
    cmd->add_option("--svg", o->svg, "Also draw the spectrum as an SVG bar chart into this file");
    cmd->footer(
        "Without --library the FHWA TNM reference constants of --vehicle are used. With --library/--record the\n"
        "constants of --pavement are read from the record; --vehicle may then be left out (if given, it must\n"
        "match the record). JSON: {\"sum\": <dB>, \"bands\": [{\"hz\": 50, \"db\": <dB>}, ...]}, 24 bands.\n");
    cmd->callback([o] { RunTnm(*o); });
  }
  {
    auto* cmd = app.add_subcommand("spectrum", "Print (or draw) a spectrum of an element library record");
    auto path = std::make_shared<std::string>();
    auto nr = std::make_shared<std::int32_t>(0);
    auto clamp = std::make_shared<bool>(false);
    auto logarithmic = std::make_shared<bool>(false);
    auto svg = std::make_shared<std::string>();
    cmd->add_option("LIBRARY", *path, "Element library file (emis.abs, absor.abs, trans.abs, atten.abs, ...)")
        ->required();
    cmd->add_option("NR", *nr, "Record number (\"Eintrag\")")->required();
    cmd->add_flag("--clamp", *clamp, "Clamp every value to 0..0.999 (coefficients)");
    cmd->add_flag("--log", *logarithmic, "Print 10*lg(value) instead of the value (-60 for values <= 1e-6)");
    cmd->add_option("--svg", *svg, "Also draw the spectrum as an SVG bar chart into this file");
    cmd->footer("The protocol: a line with the first and last band frequency and the kind, then one line per band.\n");
    cmd->callback([=] { RunSpectrum(*path, *nr, *clamp, *logarithmic, *svg); });
  }
}

}  // namespace vezi
