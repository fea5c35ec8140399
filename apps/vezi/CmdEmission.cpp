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
  std::string speed;
  std::string library;
  std::int32_t record = 0;
  std::string format = "text";
  std::string svg;
};

void RunTnm(const TnmOptions& o) {
  vez::TTNMRequest request;
  request.Pavement = vez::ParseTNMPavement(o.pavement);
  request.FullThrottle = o.fullThrottle ? vez::ftYes : vez::ftNo;
  request.SpeedKmh = vez::ParseTNMSpeed(o.speed);
  request.Library = o.library;
  request.Record = o.record;
  if (!o.vehicle.empty()) request.Vehicle = vez::ParseTNMVehicle(o.vehicle);
  if (o.library.empty() && !request.Vehicle) throw UsageError("give --vehicle, or --library with --record");

  const vez::TTNMResult r = vez::ComputeTNMEmission(request);
  const std::vector<vez::TBandValue> bands = vez::TNMBands(r.Bands);
  if (!o.svg.empty()) WriteFileAtomically(o.svg, vez::TNMChartSvg(request, r));
  std::cout << (o.format == "json" ? vez::SpectrumJson(r.Sum, bands)
                                   : vez::SpectrumText(r.Heading, "dB(A)", r.Sum, bands));
  SetExitCode(kExitOk);
}

// A complete record prints the protocol of its spectrum; one that is not complete prints its bands (with "no
// value" where one is missing) and fails with what is missing. The chart is drawn either way.
void RunSpectrum(const std::string& path, std::int32_t nr, bool clamp, bool logarithmic, const std::string& svg) {
  const vez::TElementBands bands = vez::ReadElementBands(nr, path, clamp);
  if (!svg.empty()) WriteFileAtomically(svg, vez::ElementBandsChartSvg(bands, logarithmic));
  if (const std::string why = vez::IncompleteMessage(bands); !why.empty()) {
    std::cout << vez::ElementBandsText(bands, logarithmic);
    throw vez::Exception(why);
  }
  const vez::TElementSpectrum read = vez::ReadElementSpectrum(nr, path, clamp);
  std::ostringstream protocol;
  read.Spectrum.Protok(protocol, logarithmic);
  std::cout << protocol.str();
  SetExitCode(kExitOk);
}

void RunBands(const std::string& weighting) {
  const char filter = weighting.empty() ? ' ' : vez::ParseWeighting(weighting);
  std::cout << "The frequency bands: 30 third-octave bands, every third of them the centre of one of the 10 octave\n"
               "bands. An element library (emission, absorption, transmission, attenuation) keeps band n in its\n"
               "field Values<n>, the single value in Values0. A record's Lower and Upper are its first and last\n"
               "band, counted from 0 among the bands of its kind: third-octave bands when Terz is True, octave\n"
               "bands when Terz is False. So octave bands 125 to 4000 Hz are Values8, 11, 14, 17, 20 and 23 with\n"
               "Lower 2, Upper 7 and Terz False.\n\n";
  const std::string column = weighting.empty() ? "" : fmt::format("  {:>9}", vez::UpperCase(weighting) + " weight");
  std::cout << fmt::format("{:>5}  {:>6}  {:>6}  {:<8}  {:>11}  {:>12}{}\n", "Third", "Centre", "Octave", "Field",
                           "Lower/Upper", "Lower/Upper", column);
  std::cout << fmt::format("{:>5}  {:>6}  {:>6}  {:<8}  {:>11}  {:>12}{}\n", "band", "Hz", "band", "",
                           "Terz = True", "Terz = False", weighting.empty() ? "" : fmt::format("  {:>9}", "dB"));
  for (int n = 1; n <= 30; ++n) {
    const bool octave = n % 3 == 2;
    std::string line =
        fmt::format("{:>5}  {:>6}  {:>6}  {:<8}  {:>11}  {:>12}", n, vez::BandCentreText(vez::terzen[n]),
                    octave ? std::to_string((n + 1) / 3) : "", "Values" + std::to_string(n), n - 1,
                    octave ? std::to_string((n + 1) / 3 - 1) : "");
    if (!weighting.empty())
      line += fmt::format("  {:>9.1f}", vez::FloatAsDecimal(vez::dBFilterDifferenz(filter, vez::terzen[n])) + 0.0);
    std::cout << vez::TrimRight(line) << '\n';
  }
  SetExitCode(kExitOk);
}

}  // namespace

void RegisterEmissionCommands(CLI::App& app) {
  {
    auto* cmd = app.add_subcommand("bands", "Print the octave and third-octave bands and the fields that hold them");
    auto weighting = std::make_shared<std::string>();
    cmd->add_option("--weighting", *weighting, "Add the corrections of a frequency weighting: A, B, C, D or Z (none)");
    cmd->callback([weighting] { RunBands(*weighting); });
  }
  {
    auto* cmd = app.add_subcommand("tnm", "TNM vehicle emission: 24 third-octave band levels 50 Hz..10 kHz and sum");
    auto o = std::make_shared<TnmOptions>();
    cmd->add_option("--vehicle", o->vehicle, "Vehicle type: auto, mt (medium trucks), ht (heavy trucks), bus, mc");
    cmd->add_option("--pavement", o->pavement, "Pavement: avg, dgac, ogac or pcc")->required();
    cmd->add_flag("--full-throttle", o->fullThrottle, "Full-throttle operation instead of cruise");
    cmd->add_option("--speed", o->speed, "Speed in km/h, 0 (the idle level) to 300")->required()->type_name("KMH");
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
