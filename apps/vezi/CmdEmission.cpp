// vezi tnm, spectrum and bands: emission spectra and the band grid from the command line.
//
// tnm       the TNM emission of one vehicle type on one pavement at one speed, from the reference constants
//           or from a record of a TNM vehicle library: 24 third-octave band levels and their sum, as text or
//           JSON, and optionally as an SVG bar chart.
// spectrum  a spectrum of an element library record: its protocol, and optionally an SVG bar chart.
// bands     the third-octave and octave bands with the fields of the element libraries that hold them.
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
#include "Conventions.h"
#include "acoustics/Bands.h"
#include "acoustics/Fgang.h"
#include "acoustics/TNM.h"
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "emission/SpectrumLibrary.h"
#include "emission/SpectrumReport.h"
#include "emission/TNMLibrary.h"
#include "librarydb/OVLibConst.h"
#include "output/ValueText.h"

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
  vez::TTNMRequest request;
  request.Pavement = PavementNames().at(o.pavement);
  request.FullThrottle = o.fullThrottle ? vez::ftYes : vez::ftNo;
  request.SpeedKmh = o.speed;
  request.Library = o.library;
  request.Record = o.record;
  if (!o.vehicle.empty()) request.Vehicle = VehicleNames().at(o.vehicle);
  if (o.library.empty() && !request.Vehicle) throw UsageError("give --vehicle, or --library with --record");

  const vez::TTNMResult r = vez::ComputeTNMEmission(request);
  const std::vector<vez::TBandValue> bands = vez::TNMBands(r.Bands);
  if (!o.svg.empty()) {
    vez::TChartOptions chart;
    chart.Title = "TNM emission of " + r.Source;
    chart.Subtitle = fmt::format("{}, {}, {} km/h: sum {:.1f} dB(A)", vez::TNMPavementName(request.Pavement),
                                 vez::TNMThrottleName(request.FullThrottle), vez::NumberText(o.speed), r.Sum);
    chart.YLabel = "Level in dB(A)";
    WriteFileAtomically(o.svg, vez::SpectrumBarChartSvg(bands, chart));
  }
  std::cout << (o.format == "json" ? vez::SpectrumJson(r.Sum, bands)
                                   : vez::SpectrumText(r.Heading, "dB(A)", r.Sum, bands));
  SetExitCode(kExitOk);
}

void RunSpectrum(const std::string& path, std::int32_t nr, bool clamp, bool logarithmic, const std::string& svg) {
  const vez::TElementSpectrum read = vez::ReadElementSpectrum(nr, path, clamp);
  const vez::TSpectrum& s = read.Spectrum;
  if (!svg.empty()) {
    std::vector<vez::TBandValue> bands;
    for (int i = 1; i <= s.Count; ++i) {
      double v = s.Get(i);
      if (logarithmic) v = v > 1e-6 ? 10.0 * std::log10(v) : -60.0;
      bands.push_back({s.GetFreq(static_cast<std::uint8_t>(i)), static_cast<float>(v)});
    }
    const std::string file = fs::path(path).filename().string();
    const std::int32_t libType = vez::GetLibType(file);
    vez::TChartOptions chart;
    chart.Title = fmt::format("\"{}\" (record {} of {})", read.ElementName, nr, file);
    chart.Subtitle = fmt::format("{} bands {} to {} Hz, single value {}",
                                 s.Kind == 'T' ? "Third-octave" : "Octave", vez::BandCentreText(s.fu),
                                 vez::BandCentreText(s.fo), vez::NumberText(vez::FloatAsDecimal(read.SingleValue)));
    chart.YLabel = vez::SpectrumValueLabel(libType, logarithmic);
    chart.ZeroBased = !logarithmic && libType == vez::ltAbsor;
    WriteFileAtomically(svg, vez::SpectrumBarChartSvg(bands, chart));
  }
  std::ostringstream protocol;
  s.Protok(protocol, logarithmic);
  std::cout << protocol.str();
  SetExitCode(kExitOk);
}

void RunBands() {
  std::cout << "The frequency bands: 30 third-octave bands, every third of them the centre of one of the 10 octave\n"
               "bands. An element library (emission, absorption, transmission, attenuation) keeps band n in its\n"
               "field Values<n>, the single value in Values0. A record's Lower and Upper are its first and last\n"
               "band, counted from 0 among the bands of its kind: third-octave bands when Terz is True, octave\n"
               "bands when Terz is False. So octave bands 125 to 4000 Hz are Values8, 11, 14, 17, 20 and 23 with\n"
               "Lower 2, Upper 7 and Terz False.\n\n";
  std::cout << fmt::format("{:>5}  {:>6}  {:>6}  {:<8}  {:>11}  {:>12}\n", "Third", "Centre", "Octave", "Field",
                           "Lower/Upper", "Lower/Upper");
  std::cout << fmt::format("{:>5}  {:>6}  {:>6}  {:<8}  {:>11}  {:>12}\n", "band", "Hz", "band", "",
                           "Terz = True", "Terz = False");
  for (int n = 1; n <= 30; ++n) {
    const bool octave = n % 3 == 2;
    const std::string line =
        fmt::format("{:>5}  {:>6}  {:>6}  {:<8}  {:>11}  {:>12}", n, vez::BandCentreText(vez::terzen[n]),
                    octave ? std::to_string((n + 1) / 3) : "", "Values" + std::to_string(n), n - 1,
                    octave ? std::to_string((n + 1) / 3 - 1) : "");
    std::cout << vez::TrimRight(line) << '\n';
  }
  SetExitCode(kExitOk);
}

}  // namespace

void RegisterEmissionCommands(CLI::App& app) {
  {
    auto* cmd = app.add_subcommand("bands", "Print the octave and third-octave bands and the fields that hold them");
    cmd->callback([] { RunBands(); });
  }
  {
    auto* cmd = app.add_subcommand("tnm", "TNM vehicle emission: 24 third-octave band levels 50 Hz..10 kHz and sum");
    auto o = std::make_shared<TnmOptions>();
    cmd->add_option("--vehicle", o->vehicle, "Vehicle type: auto, mt (medium trucks), ht (heavy trucks), bus, mc")
        ->check(CLI::IsMember({"auto", "mt", "ht", "bus", "mc"}));
    cmd->add_option("--pavement", o->pavement, "Pavement: avg, dgac, ogac or pcc")
        ->required()
        ->check(CLI::IsMember({"avg", "dgac", "ogac", "pcc"}));
    cmd->add_flag("--full-throttle", o->fullThrottle, "Full-throttle operation instead of cruise");
    cmd->add_option("--speed", o->speed, "Speed in km/h, 0 (the idle level) to 300")
        ->required()
        ->check(Range(0, vez::kTNMMaxSpeedKmh));
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
