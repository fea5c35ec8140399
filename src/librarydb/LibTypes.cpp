// The library type registry: file names of the library types and the key and name fields of the train and
// vehicle libraries.
#include <array>
#include <utility>

#include "core/FileMask.h"
#include "core/FormatSettings.h"
#include "librarydb/OVLibConst.h"

namespace vez {
namespace {

// File name or pattern by code; "" for unassigned codes.
constexpr std::array<const char*, kLibTypeCount> kLibNames = {
      "emis.abs",  // 0
      "Absor.abs",  // 1
      "Trans.abs",  // 2
      "Atten.abs",  // 3
      "Assess.abs",  // 4
      "Time.abs",  // 5
      "Riwi.abs",  // 6
      "Riwi3d.abs",  // 7
      "Wind.abs",  // 8
      "Stoffe.abs",  // 9
      "NMPBMet.abs",  // 10
      "Traffic.abs",  // 11
      "AirCrafts.abs",  // 12
      "Nor2kRoad.abs",  // 13
      "N2kVehicles.abs",  // 14
      "RoadSurf.abs",  // 15
      "N2kTraf.abs",  // 16
      "Profiles.abs",  // 17
      "",  // 18
      "",  // 19
      "TS03.abs",  // 20
      "TRMR2002.abs",  // 21
      "TN2KRail.abs",  // 22
      "TTrapid.abs",  // 23
      "THURail.abs",  // 24
      "TOeAL30TT.abs",  // 25
      "TNMVeh.abs",  // 26
      "MeteoStat.abs",  // 27
      "TSVBUSch.abs",  // 28
      "N2kWeather.abs",  // 29
      "TIsraeliRail.abs",  // 30
      "N2kWind.abs",  // 31
      "TSSNCF.abs",  // 32
      "TSemibel.abs",  // 33
      "EmisGrp.abs",  // 34
      "AbsorGrp.abs",  // 35
      "TransGrp.abs",  // 36
      "AttenGrp.abs",  // 37
      "ZBDef.abs",  // 38
      "Gebiete.abs",  // 39
      "TOeAl30.abs",  // 40
      "RREC????.abs",  // 41
      "RFRQ????.abs",  // 42
      "RPDG????.abs",  // 43
      "RR24????.abs",  // 44
      "RCON????.abs",  // 45
      "REXP????.abs",  // 46
      "RGRP????.abs",  // 47
      "RMND????.abs",  // 48
      "RMPC????.abs",  // 49
      "RCFQ????.abs",  // 50
      "RPAR????.abs",  // 51
      "RSRC????.abs",  // 52
      "RSFQ????.abs",  // 53
      "RS24????.abs",  // 54
      "RRAI????.abs",  // 55
      "RLMS????.abs",  // 56
      "RREU????.abs",  // 57
      "RABS????.abs",  // 58
      "RSAK????.abs",  // 59
      "RPG[SDIP]????.abs",  // 60
      "RPF[SDIP]????.abs",  // 61
      "RTAL????.abs",  // 62
      "RPRF????.abs",  // 63
      "RROA????.abs",  // 64
      "RRO4????.abs",  // 65
      "RISM????.abs",  // 66
      "RISL????.abs",  // 67
      "RISH????.abs",  // 68
      "RANC????.abs",  // 69
      "RIPF????.abs",  // 70
      "RRAD????.abs",  // 71
      "RMPA????.abs",  // 72
      "",  // 73
      "",  // 74
      "",  // 75
      "",  // 76
      "",  // 77
      "",  // 78
      "",  // 79
      "*.runx",  // 80
      "geoDBObjExt_.abs",  // 81
      "ASCII2GeoDB.abs",  // 82
      "DBase2GeoDB.abs",  // 83
      "*.sdbx",  // 84
      "Addresses.abs",  // 85
      "",  // 86
      "",  // 87
      "",  // 88
      "",  // 89
      "TCRN.abs",  // 90
      "TJapRail.abs",  // 91
      "TNMT.abs",  // 92
      "RTRK????.abs",  // 93
      "RFLG????.abs",  // 94
      "RFSG????.abs",  // 95
      "Attrib.abs",  // 96
      "TgLuft.abs",  // 97
      "WgLuft.abs",  // 98
      "JgLuft.abs",  // 99
      "VehCatS03_2006.abs",  // 100
      "TSS03_2006.abs",  // 101
      "VehCatFRA2005.abs",  // 102
      "TSFRA2005.abs",  // 103
};

struct FieldNames {
  std::int32_t libType;
  const char* idx;
  const char* name;
};

constexpr FieldNames kTrainFields[] = {
    {20, "ZugArt", "Name"},      {23, "ZugArt", "Name"},     {28, "ZugArt", "Name"},
    {21, "TrainIdx", "TrainName"}, {22, "TrainNo", "Name"},  {25, "TrainType", "TrainName"},
    {33, "No", "Name"},          {91, "No", "Name"},         {90, "TrainType", "TrainName"},
    {92, "TrainNo", "Type"},     {101, "Eintrag", "ElementName"}, {103, "Eintrag", "ElementName"},
};

const FieldNames* FindTrainFields(std::int32_t libType) {
  for (const FieldNames& entry : kTrainFields) {
    if (entry.libType == libType) return &entry;
  }
  return nullptr;
}

}  // namespace

std::string LibName(std::int32_t LibType) {
  if (LibType < 0 || LibType >= kLibTypeCount) return {};
  return kLibNames[static_cast<std::size_t>(LibType)];
}

const char* LibTypeConstantName(std::int32_t code) {
  // Built from the constants themselves, so that the table and OVLibConst.h cannot disagree.
#define VEZ_LT(constant) std::pair<std::int32_t, const char*>{constant, #constant}
  static constexpr std::pair<std::int32_t, const char*> kConstants[] = {
    VEZ_LT(ltEmis), VEZ_LT(ltAbsor), VEZ_LT(ltTrans), VEZ_LT(ltAtten), VEZ_LT(ltAssess), VEZ_LT(ltTime),
    VEZ_LT(ltRiwi), VEZ_LT(ltRiwi3d), VEZ_LT(ltWind), VEZ_LT(ltStoffe), VEZ_LT(ltNMPBMet), VEZ_LT(ltTraffic),
    VEZ_LT(ltAirCrafts), VEZ_LT(ltNor2kRoad), VEZ_LT(ltN2kVehicles), VEZ_LT(ltRoadSurf), VEZ_LT(ltN2kTraf),
    VEZ_LT(ltProfiles), VEZ_LT(ltTS03), VEZ_LT(ltTRMR2002), VEZ_LT(ltTN2KRail), VEZ_LT(ltTTrapid), VEZ_LT(ltTHURail),
    VEZ_LT(ltTOeAL30TT), VEZ_LT(ltTNMVeh), VEZ_LT(ltMeteoStat), VEZ_LT(ltTSVBUSch), VEZ_LT(ltN2kWeather),
    VEZ_LT(ltTIsraeliRail), VEZ_LT(ltN2kWind), VEZ_LT(ltTSSNCF), VEZ_LT(ltTSemibel), VEZ_LT(ltEmisGrp),
    VEZ_LT(ltAbsorGrp), VEZ_LT(ltTransGrp), VEZ_LT(ltAttenGrp), VEZ_LT(ltZBDef), VEZ_LT(ltGebiete),
    VEZ_LT(ltTOeAl30), VEZ_LT(ltRREC), VEZ_LT(ltRFRQ), VEZ_LT(ltRPDG), VEZ_LT(ltRR24), VEZ_LT(ltRCON),
    VEZ_LT(ltREXP), VEZ_LT(ltRGRP), VEZ_LT(ltRMND), VEZ_LT(ltRMPC), VEZ_LT(ltRCFQ), VEZ_LT(ltRPAR), VEZ_LT(ltRSRC),
    VEZ_LT(ltRSFQ), VEZ_LT(ltRS24), VEZ_LT(ltRRAI), VEZ_LT(ltRLMS), VEZ_LT(ltRREU), VEZ_LT(ltRABS), VEZ_LT(ltRSAK),
    VEZ_LT(ltRPG), VEZ_LT(ltRPF), VEZ_LT(ltRTAL), VEZ_LT(ltRPRF), VEZ_LT(ltRROA), VEZ_LT(ltRRO4), VEZ_LT(ltRISM),
    VEZ_LT(ltRISL), VEZ_LT(ltRISH), VEZ_LT(ltRANC), VEZ_LT(ltRIPF), VEZ_LT(ltRRAD), VEZ_LT(ltRMPA), VEZ_LT(ltRunx),
    VEZ_LT(ltGeoDBObjExt), VEZ_LT(ltASCII2GeoDB), VEZ_LT(ltDBase2GeoDB), VEZ_LT(ltSdbx), VEZ_LT(ltAddresses),
    VEZ_LT(ltTCRN), VEZ_LT(ltTJapRail), VEZ_LT(ltTNMT), VEZ_LT(ltRTRK), VEZ_LT(ltRFLG), VEZ_LT(ltRFSG),
    VEZ_LT(ltAttrib), VEZ_LT(ltTgLuft), VEZ_LT(ltWgLuft), VEZ_LT(ltJgLuft), VEZ_LT(ltVehCatS03_2006),
    VEZ_LT(ltTSS03_2006), VEZ_LT(ltVehCatFRA2005), VEZ_LT(ltTSFRA2005)};
#undef VEZ_LT
  static constexpr auto kNames = [] {
    std::array<const char*, kLibTypeCount> names{};
    for (const auto& [constant, name] : kConstants) names[static_cast<std::size_t>(constant)] = name;
    return names;
  }();
  if (code < 0 || code >= kLibTypeCount) return nullptr;
  return kNames[static_cast<std::size_t>(code)];
}

std::string RegLibName(std::int32_t LibType) {
  std::string name = LibName(LibType);
  if (name.size() < 3) return {};
  name.resize(name.size() - 3);
  return name;
}

std::int32_t GetLibType(std::string_view FileName) {
  std::string name(FileName);
  if (UpperCase(ExtractFileExt(name)) == ".TABS") name = name.substr(0, 8) + ".abs";
  for (std::int32_t code = 0; code < kLibTypeCount; ++code) {
    const char* pattern = kLibNames[static_cast<std::size_t>(code)];
    if (*pattern != '\0' && MatchesMask(name, pattern)) return code;
  }
  return -1;
}

std::string IdxFieldName(std::int32_t LibType) {
  const FieldNames* entry = FindTrainFields(LibType);
  return entry ? entry->idx : "TrainType";
}

std::string NameFieldName(std::int32_t LibType) {
  const FieldNames* entry = FindTrainFields(LibType);
  return entry ? entry->name : "Name";
}

}  // namespace vez
