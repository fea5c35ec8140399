// TNM emission constants in the TNM vehicle library ("TNMVeh.abs"): reading a record into a TTNMEmisConsts
// and writing one back.
//
// A record holds the 22 coefficients for both full-throttle states and all four pavements, in fields named
// like "D1(FTYes,PTOGAC)" (TNMFieldName); a TTNMEmisConsts holds one pavement's 44. These operations belong
// to TTNMEmisConsts but need the table engine; they are free functions here so that the model in
// acoustics/TNM.h stays free of database code.
#pragma once

#include <cstdint>

#include "acoustics/TNM.h"
#include "librarydb/Absmain.h"

namespace vez {

// Opens the table if it is closed, selects the primary index "p" and looks up key Nr. Found: Consts.Nr := Nr,
// then ReadFromDataSet; True. Not found: Consts unchanged; False. Engine failures pass to the caller.
bool ReadFromDataBase(TTNMEmisConsts& Consts, TABSTable& Table, std::int32_t Nr, TPavementType Pavement);

// Reads the current record: Pavement, "BaseVT", "ElementName" and the 44 coefficient fields of Pavement in
// storage order. A missing field raises the engine's EDatabaseError; what was read before it stays read.
void ReadFromDataSet(TTNMEmisConsts& Consts, TDataSet& Table, TPavementType Pavement);

// Writes "BaseVT" and the 44 coefficient fields of Consts.Pavement into the current record; the caller puts
// the table into edit or insert state and posts it. ElementName and the other pavements' fields are not
// touched. A missing field raises the engine's EDatabaseError; what was written before it stays written.
void WriteToDataSet(const TTNMEmisConsts& Consts, TDataSet& Table);

}  // namespace vez
