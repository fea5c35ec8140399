// Bands, weighting, level arithmetic and the TNM emission model. The routines over sequences take any
// iterable of numbers (a numpy array too) and give a numpy array when numpy is there, else a list.
#include <pybind11/stl.h>

#include <cmath>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "Bindings.h"
#include "acoustics/Bands.h"
#include "acoustics/TNM.h"
#include "core/Exceptions.h"
#include "emission/SpectrumLibrary.h"
#include "emission/SpectrumReport.h"
#include "emission/TNMLibrary.h"
#include "output/ValueText.h"
#include "numerics/Analysis.h"

namespace vez::python {

namespace {

// Values computed in single precision reach Python as the doubles of their shortest decimal text.
std::vector<double> Decimals(std::span<const float> values) {
  std::vector<double> out;
  out.reserve(values.size());
  for (float v : values) out.push_back(FloatAsDecimal(v));
  return out;
}

py::object Values(const std::vector<double>& values) {
  if (HaveNumpy()) return py::module_::import("numpy").attr("array")(py::cast(values), py::arg("dtype") = "float64");
  return py::cast(values);
}

// A number as a float, as float() takes it: an int too large for a float raises OverflowError, anything that
// is no number TypeError.
double Number(const py::handle& value) {
  if (!PyNumber_Check(value.ptr()) || PyUnicode_Check(value.ptr()))
    throw py::type_error("a number is expected, not " + std::string(Py_TYPE(value.ptr())->tp_name));
  const double d = PyFloat_AsDouble(value.ptr());
  if (d == -1.0 && PyErr_Occurred()) throw py::error_already_set();
  return d;
}

std::vector<double> Numbers(const py::handle& values) {
  std::vector<double> out;
  if (PyNumber_Check(values.ptr()) && !PySequence_Check(values.ptr())) {
    out.push_back(Number(values));
    return out;
  }
  for (const py::handle item : py::iter(values)) out.push_back(Number(item));
  return out;
}

std::uint16_t Frequency(double hz) {
  if (!(hz >= 0 && hz <= 65535)) throw py::value_error("frequency out of range 0..65535 Hz: " + std::to_string(hz));
  return static_cast<std::uint16_t>(std::lround(hz));
}

py::object Weighting(const py::handle& freqs, const py::handle& filterArg) {
  if (!PyUnicode_Check(filterArg.ptr())) throw py::type_error("the weighting is a str: 'A', 'B', 'C', 'D' or 'Z'");
  const char filter = ParseWeighting(Utf8(filterArg));
  std::vector<double> out;
  for (double hz : Numbers(freqs)) out.push_back(FloatAsDecimal(dBFilterDifferenz(filter, Frequency(hz))) + 0.0);
  if (PyNumber_Check(freqs.ptr()) && !PySequence_Check(freqs.ptr())) return py::float_(out.front());
  return Values(out);
}

// The centre frequencies of bands as Python numbers: 31.5 for the band the grid lists as 31 Hz.
py::tuple Centres(const std::vector<std::uint16_t>& hz) {
  py::tuple out(hz.size());
  for (std::size_t i = 0; i < hz.size(); ++i)
    out[i] = hz[i] == 31 ? py::object(py::float_(BandCentreHz(hz[i]))) : py::object(py::int_(hz[i]));
  return out;
}

std::string Text(const py::handle& value, const char* what) {
  if (!PyUnicode_Check(value.ptr()))
    throw py::type_error(std::string(what) + " is a str, not " + Py_TYPE(value.ptr())->tp_name);
  return Utf8(value);
}

}  // namespace

void RegisterAcoustics(py::module_& m) {
  std::vector<std::uint16_t> octaves, thirds, tnmBands;
  for (int k = 1; k <= 10; ++k) octaves.push_back(oktaven[k]);
  for (int k = 1; k <= 30; ++k) thirds.push_back(terzen[k]);
  for (int k = 0; k < kTNMBandCount; ++k) tnmBands.push_back(terzen[k + 4]);
  m.attr("OCTAVE_BANDS") = Centres(octaves);
  m.attr("THIRD_OCTAVE_BANDS") = Centres(thirds);
  m.attr("TNM_BANDS") = Centres(tnmBands);
  m.attr("Spectrum") = py::module_::import("collections").attr("namedtuple")(
      "Spectrum", py::make_tuple("name", "kind", "bands", "values", "single_value"), py::arg("module") = "veziru");

  m.def("weighting", &Weighting, py::arg("freqs"), py::arg("filter") = "A",
        "The correction in dB of a frequency weighting ('A', 'B', 'C', 'D'; 'Z' for none) for the third-octave\n"
        "band of each frequency in Hz. A number gives a float, a sequence an array (a list without numpy).");
  m.def("a_weighting", [](const py::handle& freqs) { return Weighting(freqs, py::str("A")); }, py::arg("freqs"),
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
  m.def("tnm", [](const py::object& vehicle, const py::object& pavement, const py::object& speedArg,
                  bool fullThrottle, const py::object& library, const py::object& record) {
        if (speedArg.is_none()) throw py::type_error("tnm() needs the speed in km/h");
        if (PyBool_Check(speedArg.ptr())) throw py::type_error("the speed is a number of km/h, not a bool");
        TTNMRequest request;
        request.SpeedKmh = Number(speedArg);
        CheckTNMSpeed(request.SpeedKmh);
        if (!vehicle.is_none()) request.Vehicle = ParseTNMVehicle(Text(vehicle, "the vehicle"));
        request.Pavement = ParseTNMPavement(Text(pavement, "the pavement"));
        request.FullThrottle = fullThrottle ? ftYes : ftNo;
        if (library.is_none() != record.is_none())
          throw py::type_error("library and record are given together, or neither");
        if (!library.is_none()) {
          request.Library = PathArg(library);
          CheckFile(request.Library);
          if (PyBool_Check(record.ptr()) || !PyLong_Check(record.ptr()))
            throw py::type_error("record is the record number (an int)");
          int overflow = 0;
          const long long nr = PyLong_AsLongLongAndOverflow(record.ptr(), &overflow);
          if (overflow != 0 || nr < INT32_MIN || nr > INT32_MAX)
            throw py::value_error("no record has the number " + py::str(record).cast<std::string>());
          request.Record = static_cast<std::int32_t>(nr);
        } else if (!request.Vehicle) {
          throw py::type_error("give a vehicle, or a TNM vehicle library with a record");
        }
        const TTNMResult r = ComputeTNMEmission(request);
        return py::make_tuple(static_cast<double>(FloatAsDecimal(r.Sum)), Values(Decimals(r.Bands)));
      }, py::arg("vehicle") = py::none(), py::arg("pavement") = "avg", py::arg("speed") = py::none(),
      py::arg("full_throttle") = false, py::kw_only(), py::arg("library") = py::none(), py::arg("record") = py::none(),
      "The FHWA TNM emission of a vehicle ('auto', 'mt', 'ht', 'bus', 'mc') on a pavement ('avg', 'dgac',\n"
      "'ogac', 'pcc') at a speed in km/h (0 to 300): (sum in dB(A), the 24 band levels of TNM_BANDS in dB(A)).\n"
      "With library (a TNM vehicle library, str or os.PathLike) and record (its Eintrag), the constants of that\n"
      "record are used; vehicle may then be None and must match the record when given.");
  m.def("spectrum", [](const py::object& library, std::int32_t record, bool clamp) {
        const std::string path = PathArg(library);
        CheckFile(path);
        const TElementSpectrum read = ReadElementSpectrum(record, path, clamp);
        const TSpectrum& s = read.Spectrum;
        std::vector<std::uint16_t> bands;
        for (int i = 1; i <= s.Count; ++i) bands.push_back(s.GetFreq(static_cast<std::uint8_t>(i)));
        py::object type = py::module_::import("veziru").attr("Spectrum");
        return type(TextObjectOf(read.ElementName), s.Kind == 'T' ? "third-octave" : "octave",
                    Centres(bands), Values(Decimals(s.Values)),
                    static_cast<double>(FloatAsDecimal(read.SingleValue)));
      }, py::arg("library"), py::arg("record"), py::arg("clamp") = false,
      "The spectrum of record `record` (its Eintrag) of an element library, as `vezi spectrum` reads it: only the\n"
      "bands from Lower to Upper of a record marked complete. Spectrum(name, kind, bands, values, single_value):\n"
      "kind 'third-octave' or 'octave', bands the centre frequencies in Hz (31.5 for the 31.5 Hz band). clamp\n"
      "limits every value to 0..0.999 (coefficients).");
}

}  // namespace vez::python
