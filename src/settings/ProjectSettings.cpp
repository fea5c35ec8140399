// Project settings in the project folder's "Project.tp", and the hour-range texts of the time slices.
#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "settings/IniConsts.h"
#include "settings/SettingsText.h"

namespace vez {

namespace {

constexpr std::string_view kTimeSlicesSection = "time slices DEN";
constexpr std::array<const char*, 3> kSliceKeys = {"DayIdent", "EveningIdent", "NightIdent"};
constexpr std::array<const char*, 3> kSliceDefaults = {"7-19", "19-23", "23-7"};

std::uint8_t LowByte(std::int32_t value) {
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) & 0xFFu);
}

// One hour of a range part: only the digits count; false when there is none or the hour lies outside 0..24.
bool ParseHour(std::string_view part, int& hour) {
  bool anyDigit = false;
  int value = 0;
  for (const char c : part) {
    if (c < '0' || c > '9') continue;
    anyDigit = true;
    if (value <= 24) value = value * 10 + (c - '0');  // stops growing once out of range
  }
  if (!anyDigit || value > 24) return false;
  hour = value;
  return true;
}

// "a-b": a before the first "-", b after it up to the next "-" or the end.
bool ParseRange(std::string_view range, int& from, int& to) {
  const auto dash = range.find('-');
  if (dash == std::string_view::npos) return false;
  auto second = range.substr(dash + 1);
  second = second.substr(0, second.find('-'));
  return ParseHour(range.substr(0, dash), from) && ParseHour(second, to);
}

}  // namespace

const TStandardEnabledItem& TStandardEnabledList::Items(int index) const {
  if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", index));
  return items_[static_cast<std::size_t>(index)];
}

bool TStandardEnabledList::GetEnabled(std::int32_t id) const {
  for (const auto& item : items_)
    if (item.StandardId == id) return item.Enabled;
  return true;
}

std::string ProjectFileName(std::string_view folder) {
  std::string name(folder);
  if (!name.empty() && name.back() != '/') name += '/';
  return name + "Project.tp";
}

void ReadGraphicsSettings(std::string_view folder, TGraphicsSettings& S) {
  const TIniFile ini(ProjectFileName(folder));
  const TGraphicsSettings def;
  const auto read = [&ini](const char* key, auto fallback) {
    return static_cast<decltype(fallback)>(LowByte(ini.ReadInteger("graphics", key, static_cast<int>(fallback))));
  };
  S.UnitLengthScale = read("UnitLengthScale", def.UnitLengthScale);
  S.GridSeed = read("GridSeed", def.GridSeed);
}

void ReadGeoDBSettings(std::string_view folder, TGeoDBSettings& S) {
  DecimalSeparatorScope dot('.');
  const TIniFile ini(ProjectFileName(folder));
  const auto readFloat = [&ini](const char* key, double fallback, double& field) {
    try {
      field = StrToFloat(ini.ReadString("GeoDB", key, ""));
    } catch (const std::exception&) {
      field = fallback;
    }
  };
  const TGeoDBSettings def;
  readFloat("bldgheight", def.BldgHeight, S.BldgHeight);
  readFloat("relheightEFH", def.RelHeightEFH, S.RelHeightEFH);
  readFloat("floorheight", def.FloorHeight, S.FloorHeight);
  readFloat("recfacdist", def.RecFacDist, S.RecFacDist);
  try {
    const std::int32_t alignment =
        ini.ReadInteger("GeoDB", "roadhousenoAlignment", static_cast<int>(def.RoadHouseNoAlignment));
    S.RoadHouseNoAlignment = static_cast<THouseNoRoadAlign>(LowByte(alignment));
  } catch (const std::exception&) {
    // The alignment stays as it was.
  }
  try {
    S.UsageArea = ini.ReadInteger("GeoDB", "usageArea", def.UsageArea);
  } catch (const std::exception&) {
    S.UsageArea = def.UsageArea;
  }
}

void ReadNumberingSettings(std::string_view folder, TNumberingSettings& S) {
  const TIniFile ini(ProjectFileName(folder));
  TNumberingSettings read;  // the fields that are not stored keep their fixed values
  read.RecFmtIdent = ini.ReadString("numbering", "RecFmtIdent", read.RecFmtIdent);
  read.RecSrtIdent = ini.ReadString("numbering", "RecSrtIdent", read.RecSrtIdent);
  read.SrcFmtIdent = ini.ReadString("numbering", "SrcFmtIdent", read.SrcFmtIdent);
  read.SrcSrtIdent = ini.ReadString("numbering", "SrcSrtIdent", read.SrcSrtIdent);
  read.PhotoFmtIdent = ini.ReadString("numbering", "PhotoFmtIdent", read.PhotoFmtIdent);
  read.PhotoSrtIdent = ini.ReadString("numbering", "PhotoSrtIdent", read.PhotoSrtIdent);
  S = std::move(read);
}

void ReadUsages(std::string_view folder, TUsages& Usages) {
  const TIniFile ini(ProjectFileName(folder));
  for (std::size_t i = 0; i < Usages.size(); ++i) {
    const std::string id = UsageIds[i];
    Usages[i].Short = ini.ReadString("usages", id + ".Short", id);
    Usages[i].Descr = ini.ReadString("usages", id + ".Descr", UsageDescrs[i]);
  }
}

void WriteUsages(std::string_view folder, const TUsages& Usages) {
  TIniFile ini(ProjectFileName(folder));
  std::vector<TSettingsValue> values;
  for (std::size_t i = 0; i < Usages.size(); ++i) {
    const std::string id = UsageIds[i];
    values.emplace_back(id + ".Short", Usages[i].Short);
    values.emplace_back(id + ".Descr", Usages[i].Descr);
  }
  ini.WriteSectionValues("usages", values);
}

void ReadTimeSlices(std::string_view folder, TTimeSlices& Slices) {
  for (auto& slice : Slices) slice = TTimeSlice{};
  const TIniFile ini(ProjectFileName(folder));
  for (std::size_t i = 0; i < Slices.size(); ++i) {
    auto& slice = Slices[i];
    slice.Ident = ini.ReadString(kTimeSlicesSection, kSliceKeys[i], kSliceDefaults[i]);
    SetBereich(slice.Ident, slice.Hours);
    slice.HourCount = 0;
    for (const bool on : slice.Hours) slice.HourCount += on ? 1 : 0;
  }
}

void WriteTimeSlices(std::string_view folder, const TTimeSlices& Slices) {
  TIniFile ini(ProjectFileName(folder));
  std::vector<TSettingsValue> values;
  for (std::size_t i = 0; i < Slices.size(); ++i) values.emplace_back(kSliceKeys[i], Slices[i].Ident);
  ini.WriteSectionValues(kTimeSlicesSection, values);
}

bool SetBereich(std::string_view Text, THours& Hours) {
  Hours.fill(false);
  try {
    std::vector<std::pair<int, int>> ranges;
    std::string_view rest = Text;
    for (;;) {
      const auto semicolon = rest.find(';');
      int from = 0;
      int to = 0;
      if (!ParseRange(rest.substr(0, semicolon), from, to)) return false;
      ranges.emplace_back(from, to);
      if (semicolon == std::string_view::npos) break;
      rest.remove_prefix(semicolon + 1);
    }
    for (const auto& [from, to] : ranges) {
      if (from > to) {
        for (int h = from; h < 24; ++h) Hours[static_cast<std::size_t>(h)] = true;
        for (int h = 0; h < to; ++h) Hours[static_cast<std::size_t>(h)] = true;
      } else {
        for (int h = from; h < to; ++h) Hours[static_cast<std::size_t>(h)] = true;
      }
    }
    return true;
  } catch (const std::exception&) {
    Hours.fill(false);
    return false;
  }
}

std::string GetBereich(const THours& Hours) {
  // Hours are numbered 1..24 here; hour h is Hours[h - 1].
  const auto on = [&Hours](int h) { return Hours[static_cast<std::size_t>(h - 1)]; };
  std::string text;
  int last = 24;
  int h = 1;
  while (h <= last) {
    if (!on(h)) {
      ++h;
      continue;
    }
    int e = h + 1;
    while (e <= 24 && on(e)) ++e;
    int start = h;
    if (h == 1 && e < 25 && on(24)) {
      // The run at the end of the day joins the one at its start: one range over midnight.
      while (on(last)) --last;
      start = last + 1;
    }
    text += std::to_string(start - 1) + "-" + std::to_string(e - 1) + ";";
    h = e;
  }
  if (!text.empty()) text.pop_back();
  return text.empty() ? "0-0" : text;
}

TStandardEnabledList ReadStdEnabledState(std::string_view folder) {
  const TIniFile ini(ProjectFileName(folder));
  TStandardEnabledList list;
  for (const auto& [key, value] : ini.ReadSectionValues("EnabledStandards")) {
    std::int32_t id = 0;
    std::int32_t state = 0;
    if (detail::TryDecimal(key, id) && detail::TryDecimal(value, state)) list.Add(id, state > 0);
  }
  return list;
}

}  // namespace vez
