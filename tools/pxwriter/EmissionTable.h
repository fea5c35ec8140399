// The emission-like demo table: "Nr" AutoInc, "Name" Char(80), "L1".."L31" Number, "K1".."K4" LongInt,
// "Aktiv" and "Geprueft" Logical, "Klasse" and "Typ" ShortInt, "Kommentar" MEMO(30). Values are deterministic.
#pragma once

#include "pxwriter/PxWriter.h"

namespace pxw {

Writer EmissionTable(int records);

// An emission library in Paradox form, its fields named as in the library's layout ("Eintrag", "ElementName",
// "Values1".."Values30", "Values0", "Gruppen1".."Gruppen4", "Terz", "Komplett", "Lower", "Upper", "Kommentar"), so
// every value finds its column. Values are deterministic; `seed` varies them between tables.
Writer EmissionLibraryTable(int records, std::uint32_t seed = 7);

}  // namespace pxw
