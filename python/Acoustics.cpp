// Bands, weighting, level arithmetic and the TNM emission model. The routines over sequences take any
// iterable of numbers (a numpy array too) and give a numpy array when numpy is there, else a list.
#include <pybind11/stl.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "Bindings.h"
#include "acoustics/Bands.h"
#include "acoustics/TNM.h"
#include "core/Exceptions.h"
#include "emission/SpectrumReport.h"
#include "numerics/Analysis.h"

namespace vez::python {

namespace {

py::object Values(const std::vector<double>& values) {
  if (HaveNumpy()) return py::module_::import("numpy").attr("array")(py::cast(values), py::arg("dtype") = "float64");
  return py::cast(values);
}

std::vector<double> Numbers(const py::handle& values) {
  std::vector<double> out;
  if (PyNumber_Check(values.ptr()) && !PySequence_Check(values.ptr())) {
    out.push_back(values.cast<double>());
    return out;
  }
  for (const py::handle item : py::iter(values)) out.push_back(item.cast<double>());
  return out;
}

std::uint16_t Frequency(double hz) {
  if (!(hz >= 0 && hz <= 65535)) throw py::value_error("frequency out of range 0..65535 Hz: " + std::to_string(hz));
  return static_cast<std::uint16_t>(std::lround(hz));
}

py::object Weighting(const py::handle& freqs, const std::string& filter) {
  if (filter.size() != 1) throw py::value_error("the weighting is one of 'A', 'B', 'C', 'D' or ' ', not '" + filter + "'");
  std::vector<double> out;
  for (double hz : Numbers(freqs)) out.push_back(dBFilterDifferenz(filter[0], Frequency(hz)));
  if (PyNumber_Check(freqs.ptr()) && !PySequence_Check(freqs.ptr())) return py::float_(out.front());
  return Values(out);
}

TBaseVehType Vehicle(const std::string& name) {
  static const std::map<std::string, TBaseVehType> names{
      {"auto", vtAu}, {"mt", vtMT}, {"ht", vtHT}, {"bus", vtBus}, {"mc", vtMC}};
  const auto it = names.find(name);
  if (it == names.end()) throw py::value_error("unknown vehicle '" + name + "' (auto, mt, ht, bus or mc)");
  return it->second;
}

TPavementType Pavement(const std::string& name) {
  static const std::map<std::string, TPavementType> names{
      {"avg", ptAvg}, {"dgac", ptDGAC}, {"ogac", ptOGAC}, {"pcc", ptPCC}};
  const auto it = names.find(name);
  if (it == names.end()) throw py::value_error("unknown pavement '" + name + "' (avg, dgac, ogac or pcc)");
  return it->second;
}

}  // namespace

void RegisterAcoustics(py::module_& m) {
  std::vector<int> octaves, thirds, tnmBands;
  for (int k = 1; k <= 10; ++k) octaves.push_back(oktaven[k]);
  for (int k = 1; k <= 30; ++k) thirds.push_back(terzen[k]);
  for (int k = 0; k < kTNMBandCount; ++k) tnmBands.push_back(terzen[k + 4]);
  m.attr("OCTAVE_BANDS") = py::tuple(py::cast(octaves));
  m.attr("THIRD_OCTAVE_BANDS") = py::tuple(py::cast(thirds));
  m.attr("TNM_BANDS") = py::tuple(py::cast(tnmBands));

  m.def("weighting", &Weighting, py::arg("freqs"), py::arg("filter") = "A",
        "The correction in dB of a frequency weighting ('A', 'B', 'C', 'D'; ' ' for none) for the third-octave\n"
        "band of each frequency in Hz. A number gives a float, a sequence an array (a list without numpy).");
  m.def("a_weighting", [](const py::handle& freqs) { return Weighting(freqs, "A"); }, py::arg("freqs"),
        "The A-weighting correction in dB for the third-octave band of each frequency in Hz.");
  m.def("energetic_sum", [](const py::handle& levels) {
        double energy = 0;
        for (double level : Numbers(levels)) energy += epeg(level);
        return lpeg_(energy);
      }, py::arg("levels"), "The energetic sum 10*log10(sum 10^(L/10)) of levels in dB; -1000 for none.");
  m.def("level_to_energy", [](const py::handle& levels) {
        std::vector<double> out;
        for (double level : Numbers(levels)) out.push_back(epeg(level));
        return Values(out);
      }, py::arg("levels"), "10^(L/10) of each level (0 below -999 dB, capped above 220 dB).");
  m.def("energy_to_level", [](const py::handle& energies) {
        std::vector<double> out;
        for (double energy : Numbers(energies)) out.push_back(lpeg_(energy));
        return Values(out);
      }, py::arg("energies"), "10*log10(E) of each energy (-1000 for E <= 0).");
  m.def("third_octave_band", [](double hz) {
        std::int32_t index = 0;
        const std::uint16_t centre = TerzFrequenz(Frequency(hz), index);
        return py::make_tuple(index, centre);
      }, py::arg("freq"), "(band number 1..30, centre frequency in Hz) of the third-octave band holding freq.");
  m.def("octave_band", [](double hz) {
        std::int32_t index = 0;
        const std::uint16_t centre = OctaveCenterFreq(Frequency(hz), index);
        return py::make_tuple(index, centre);
      }, py::arg("freq"), "(band number 1..10, centre frequency in Hz) of the octave band holding freq.");
  m.def("tnm", [](const std::string& vehicle, const std::string& pavement, double speed, bool fullThrottle) {
        if (!std::isfinite(speed) || speed < 0) throw py::value_error("the speed must be a number of km/h, 0 or more");
        TTNMEmisConsts consts;
        consts.BaseVT = Vehicle(vehicle);
        consts.SetTNMConstants(Vehicle(vehicle), Pavement(pavement), false);
        float sum = 0;
        TTNMSpectrum spectrum{};
        consts.CalcSumAndSpectrum(fullThrottle ? ftYes : ftNo, static_cast<float>(speed), sum, spectrum);
        return py::make_tuple(static_cast<double>(sum), Values(std::vector<double>(spectrum.begin(), spectrum.end())));
      }, py::arg("vehicle"), py::arg("pavement"), py::arg("speed"), py::arg("full_throttle") = false,
      "The FHWA TNM emission of a vehicle ('auto', 'mt', 'ht', 'bus', 'mc') on a pavement ('avg', 'dgac',\n"
      "'ogac', 'pcc') at a speed in km/h: (sum in dB(A), the 24 band levels of TNM_BANDS in dB(A)).");
}

}  // namespace vez::python
