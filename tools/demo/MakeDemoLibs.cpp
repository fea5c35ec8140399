// make-demo-libs FOLDER: writes a folder of old Paradox libraries as the suite's earlier versions left them, for
// the demo of the conversion: an emission library with German names (code page 1252) and sound power spectra in
// octave and third-octave bands (band range and completeness set, as the suite's editor leaves them), an
// absorption library of materials with octave absorption coefficients, a daily course library, a traffic
// library with its BLOB, a TNM vehicle library holding the reference constants, a result table, a run file, a
// Thumbs.db, a table without library type and a project subfolder. The field names come from the library layouts, so every column
// of the old table finds its place in the new one. The output is deterministic.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/FormatSettings.h"
#include "librarydb/Layouts.h"
#include "acoustics/Bands.h"
#include "acoustics/TNM.h"
#include "librarydb/OVLibConst.h"
#include "pxwriter/PxWriter.h"

namespace {

using pxw::Writer;

// Stored form of a date-time (days since 30 December 1899) in a Paradox TimeStamp field.
std::string TimeStamp(double dateTime) { return Writer::Number((dateTime + 693594.0) * 86400000.0); }

struct Column {
  vez::FieldLayout layout;
  pxw::Field field;
};

// The Paradox field of a layout column.
pxw::Field ParadoxField(const vez::FieldLayout& f) {
  using K = vez::ColumnKind;
  switch (f.Kind) {
    case K::Text: return {f.Name, 1, static_cast<std::uint8_t>(std::clamp(f.Size, 1, 255))};
    case K::Int16: return {f.Name, 3, 2};
    case K::Int32:
    case K::UInt16: return {f.Name, 4, 4};
    case K::AutoInc: return {f.Name, 22, 4};
    case K::Double: return {f.Name, 6, 8};
    case K::Boolean: return {f.Name, 9, 1};
    case K::DateTime: return {f.Name, 21, 8};
    case K::Blob: return {f.Name, 13, 10};
    case K::Graphic: return {f.Name, 16, 10};
    case K::Memo: return {f.Name, 12, 20};
  }
  return {f.Name, 6, 8};
}

std::vector<Column> LayoutColumns(std::int32_t libType) {
  std::vector<Column> columns;
  const std::optional<vez::TableLayout> layout = vez::LibraryLayout(libType);
  if (!layout) throw std::runtime_error("no layout for library type " + std::to_string(libType));
  for (const auto& f : layout->Fields) columns.push_back({f, ParadoxField(f)});
  return columns;
}

const std::vector<std::string> kElementNames = {
    "Stra\xdf" "enverkehr Hauptstra\xdf" "e", "L\xfc" "ftungsanlage Dach", "K\xfchlturm Nord",
    "W\xe4rmepumpe Au\xdf" "eneinheit", "M\xfcllabfuhr Fr\xfch", "Parkplatz \xd6stlich"};

// An element of an element library: its band range and its values.
struct Element {
  std::string name;
  bool terz = true;
  int lower = 0, upper = 0;              // 0-based band numbers of the kind
  std::vector<double> values;            // band values from lower to upper
  double single = 0;                     // Values0
};

// A sound power spectrum in dB that falls off on both sides of its peak band (by `slope` dB per octave squared),
// as broadband machinery and traffic sources do.
Element Source(std::string name, bool terz, int lower, int upper, double peakHz, double peakLevel, double slope) {
  Element e{std::move(name), terz, lower, upper, {}, 0};
  double energy = 0;
  for (int band = lower; band <= upper; ++band) {
    const int n = terz ? band + 1 : 3 * (band + 1) - 1;  // third-octave band of the field
    const double octaves = std::log2(vez::terzen[n] / peakHz);
    const double level = std::round((peakLevel - slope * octaves * octaves) * 10.0) / 10.0;
    e.values.push_back(level);
    energy += std::pow(10.0, level / 10.0);
  }
  e.single = std::round(100.0 * std::log10(energy)) / 10.0;
  return e;
}

// Sound absorption coefficients of a material in the octave bands 125 .. 4000 Hz with its weighted single value.
Element Absorber(std::string name, std::vector<double> alphas, double weighted) {
  return Element{std::move(name), false, 2, 7, std::move(alphas), weighted};
}

const std::vector<Element>& Elements(std::int32_t libType) {
  static const std::vector<Element> emission = {
      Source(kElementNames[0], true, 3, 23, 1000, 82, 1.0),
      Source(kElementNames[1], false, 1, 8, 250, 88, 1.5),
      Source(kElementNames[2], true, 0, 26, 500, 95, 1.0),
      Source(kElementNames[3], false, 1, 7, 500, 70, 1.8),
      Source(kElementNames[4], true, 4, 25, 1250, 98, 1.2),
      Source(kElementNames[5], false, 2, 7, 1000, 75, 1.5)};
  static const std::vector<Element> absorption = {
      Absorber("Mineralwolle 50 mm", {0.20, 0.65, 0.95, 1.00, 0.95, 0.90}, 0.90),
      Absorber("Beton glatt", {0.01, 0.01, 0.02, 0.02, 0.02, 0.03}, 0.05),
      Absorber("Holzpaneel gelocht", {0.30, 0.60, 0.70, 0.55, 0.40, 0.30}, 0.50),
      Absorber("Teppich auf Estrich", {0.05, 0.10, 0.25, 0.45, 0.60, 0.65}, 0.30)};
  static const std::vector<Element> none;
  return libType == vez::ltAbsor ? absorption : libType == vez::ltEmis ? emission : none;
}

const std::vector<std::string>& Names(std::int32_t libType) {
  static const std::vector<std::string> time = {"Gewerbe werktags", "Stra\xdf" "e Tagesgang", "Nachtbetrieb"};
  static const std::vector<std::string> tnm = {"Pkw Stadtverkehr", "Lkw schwer"};
  static const std::vector<std::string> wind = {"Station Flughafen", "Station Hafen"};
  static const std::vector<std::string> traffic = {"Hauptstra\xdf" "e", "Ringstra\xdf" "e", "Wohnstra\xdf" "e"};
  switch (libType) {
    case vez::ltTime: return time;
    case vez::ltTNMVeh: return tnm;
    case vez::ltWind: return wind;
    case vez::ltTraffic: return traffic;
    default: return kElementNames;
  }
}

// The TNM vehicle library holds the reference constants of its vehicle type for every pavement.
const vez::TBaseVehType kTnmVehicles[] = {vez::vtAu, vez::vtHT};

std::optional<double> TnmCoefficient(const std::string& field, int record) {
  vez::TTNMEmisConsts consts;
  const vez::TBaseVehType vt = kTnmVehicles[record % 2];
  for (vez::TPavementType p : {vez::ptAvg, vez::ptDGAC, vez::ptOGAC, vez::ptPCC}) {
    consts.SetTNMConstants(vt, p, false);
    for (vez::TFullThrottle t : {vez::ftNo, vez::ftYes})
      for (int c = 0; c < vez::kTNMCoefficientCount; ++c)
        if (vez::TNMFieldName(static_cast<vez::TTNMCoefficient>(c), t, p) == field)
          return consts.Coef(static_cast<vez::TTNMCoefficient>(c), t);
  }
  return std::nullopt;
}

std::string Value(const Column& c, int record, std::int32_t libType, Writer& w) {
  const std::string& name = c.layout.Name;
  const std::vector<Element>& elements = Elements(libType);
  const Element* element = elements.empty() ? nullptr : &elements[static_cast<std::size_t>(record) % elements.size()];
  using K = vez::ColumnKind;
  switch (c.layout.Kind) {
    case K::AutoInc:
      return Writer::Long(record * 10 + 1);  // numbers with gaps, as old libraries have them
    case K::Text: {
      if (name == "ElementName" || name == "Name") {
        const std::vector<std::string>& names = Names(libType);
        return Writer::Char(element ? element->name : names[static_cast<std::size_t>(record) % names.size()],
                            c.field.Size);
      }
      if (name == "DisplayValue") return Writer::Char(std::to_string(60 + record) + " dB(A)", c.field.Size);
      return Writer::Null(c.field.Size);
    }
    case K::Double: {
      if (libType == vez::ltTNMVeh)
        if (const auto v = TnmCoefficient(name, record)) return Writer::Number(*v);
      if (name.rfind("Values", 0) == 0) {
        const int band = std::atoi(name.c_str() + 6);
        if (libType == vez::ltTime) return Writer::Number(band >= 7 && band <= 22 ? 100.0 : 30.0);
        if (element) {
          if (band == 0) return Writer::Number(element->single);
          // Band fields outside the record's range, and third-octave fields of an octave record, stay empty.
          const int index = element->terz ? band - 1 - element->lower
                                           : (band % 3 == 2 ? (band + 1) / 3 - 1 - element->lower : -1);
          if (index < 0 || index > element->upper - element->lower) return Writer::Null(c.field.Size);
          return Writer::Number(element->values[static_cast<std::size_t>(index)]);
        }
      }
      if (name.rfind("Percentage", 0) == 0) return Writer::Number(100.0 / 13.0);
      if (name.rfind("Speed", 0) == 0) return Writer::Number(1.0 + 0.5 * std::atoi(name.c_str() + 5));
      if (name == "HeightAboveGround") return Writer::Number(0.5 + record);
      if (name.rfind("Kennwerte", 0) == 0) return Writer::Null(c.field.Size);
      return Writer::Number(0.01 * (record + 1));
    }
    case K::Int16:
    case K::Int32:
    case K::UInt16:
      if (element && name == "Lower") return Writer::Long(element->lower);
      if (element && name == "Upper") return Writer::Long(element->upper);
      if (name == "BaseVT") return Writer::Long(kTnmVehicles[record % 2]);
      if (name == "StdLibType") return Writer::Long(record % 3);
      if (name == "Einheit") return Writer::Long(1);
      return Writer::Long(0);
    case K::Boolean:
      if (element && name == "Terz") return Writer::Logical(element->terz);
      if (element && name == "Komplett") return Writer::Logical(true);
      return Writer::Logical(record % 2 == 0);
    case K::DateTime:
      return TimeStamp(vez::EncodeDateTime(2004, 3, 15 + record, 9, 30, 0, 0));
    case K::Memo:
      return w.Blob("Gemessen am Immissionsort " + std::to_string(record + 1) +
                        ", Messger\xe4t Klasse 1, Wetter: tr\xfc" "b, Windst\xe4rke 2 Bft.",
                    c.field.Size);
    case K::Blob: {
      std::string bytes(static_cast<std::size_t>(c.layout.Size > 0 ? c.layout.Size : 64), '\0');
      for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7 + record) & 0xFF);
      return w.Blob(bytes, c.field.Size);
    }
    case K::Graphic:
      return Writer::Null(c.field.Size);
  }
  return Writer::Null(c.field.Size);
}

void WriteLibrary(const std::string& path, std::int32_t libType, int records) {
  const std::vector<Column> columns = LayoutColumns(libType);
  std::vector<pxw::Field> fields;
  for (const auto& c : columns) fields.push_back(c.field);
  Writer w(fields, pxw::TableOptions{16, 12, 1252, 2, "ascii"});
  for (int r = 0; r < records; ++r) {
    std::vector<std::string> values;
    for (const auto& c : columns) values.push_back(Value(c, r, libType, w));
    w.AddRecord(values);
  }
  w.Write(path);
}

// A result table: receiver points with floors and levels.
void WriteResults(const std::string& path) {
  Writer w({{"RecNo", 4, 4}, {"Floor", 3, 2}, {"X", 6, 8}, {"Y", 6, 8}, {"LrDay", 6, 8}, {"LrNight", 6, 8}});
  for (int rec = 1; rec <= 12; ++rec)
    for (int floor = 0; floor < 3; ++floor)
      w.AddRecord({Writer::Long(rec), Writer::Short(static_cast<std::int16_t>(floor)),
                   Writer::Number(3500000.0 + 12.5 * rec), Writer::Number(5400000.0 + 7.5 * rec),
                   Writer::Number(55.0 + rec * 0.4 + floor * 0.8), Writer::Number(47.0 + rec * 0.4 + floor * 0.8)});
  w.Write(path);
}

// A run file: the calculation runs of a project.
void WriteRuns(const std::string& path) {
  Writer w({{"No", 4, 4}, {"Name", 1, 40}, {"Calc", 1, 20}, {"CalcType", 1, 20}, {"Results", 1, 20},
            {"Started", 21, 8}});
  const char* names[] = {"Tag Ist-Zustand", "Nacht Ist-Zustand", "Tag Prognose 2030"};
  for (int i = 0; i < 3; ++i)
    w.AddRecord({Writer::Long(i + 1), Writer::Char(names[i], 40), Writer::Char("RLS-90", 20),
                 Writer::Char("Grid", 20), Writer::Char("RREC000" + std::to_string(i + 1), 20),
                 TimeStamp(vez::EncodeDateTime(2005, 6, 1 + i, 14, 0, 0, 0))});
  w.Write(path);
}

void WritePlain(const std::string& path, const std::string& text) {
  Writer w({{"Bezeichnung", 1, 40}, {"Wert", 6, 8}});
  w.AddRecord({Writer::Char(text, 40), Writer::Number(1.0)});
  w.Write(path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make-demo-libs FOLDER\n";
    return 2;
  }
  try {
    const std::string dir = std::string(argv[1]) + "/";
    std::filesystem::create_directories(dir + "Projekt Nord");
    WriteLibrary(dir + "emis.db", vez::ltEmis, 6);
    WriteLibrary(dir + "Absor.db", vez::ltAbsor, 4);
    WriteLibrary(dir + "Time.db", vez::ltTime, 3);
    WriteLibrary(dir + "Wind.db", vez::ltWind, 2);
    WriteLibrary(dir + "Traffic.db", vez::ltTraffic, 3);
    WriteLibrary(dir + "TNMVeh.db", vez::ltTNMVeh, 2);
    WriteResults(dir + "RREC0001.tdb");
    WriteRuns(dir + "X.run");
    WritePlain(dir + "Thumbs.db", "Vorschaubilder");
    WritePlain(dir + "Strassen.db", "Hauptstra\xdf" "e");
    WriteLibrary(dir + "Projekt Nord/emis.db", vez::ltEmis, 3);
    WriteLibrary(dir + "Projekt Nord/Time.db", vez::ltTime, 2);
  } catch (const std::exception& e) {
    std::cerr << "make-demo-libs: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
