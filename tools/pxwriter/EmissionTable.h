// The emission-like demo table: "Nr" AutoInc, "Name" Char(80), "L1".."L31" Number, "K1".."K4" LongInt,
// "Aktiv" and "Geprueft" Logical, "Klasse" and "Typ" ShortInt, "Kommentar" MEMO(30). Values are deterministic.
#pragma once

#include "pxwriter/PxWriter.h"

namespace pxw {

Writer EmissionTable(int records);

}  // namespace pxw
