// Map tiles: the square or rectangular tiles that large gridded data files are cut into. A tile is named by its
// lower-left corner in kilometres with at most one decimal (decimal comma): "_X1Y6", "_X1,5Y6,5". Coordinates are
// metres (double), tile sizes metres (float). Tile file names put the tile name between the base name and a
// derived extension: dgm.asc gives dgm_X1Y6.tasc.
//
// The corner is found in whole hundreds of metres (coordinate / 100 rounded half to even) and brought down to the
// tile grid with integer division truncating toward zero, so on the negative side the name names the corner
// nearer to zero. Grid snapping (SetKachelGrenze, GetKachelDim) truncates toward zero likewise.
//
// Tile sizes must exceed 50 m; a smaller size throws vez::EZeroDivide ("Division by zero"). A coordinate or size
// that is not finite or beyond ±9.2e20 m throws vez::EMathError ("Invalid floating point operation"). Unparsable
// names give false (-1 from KachelIsInRect). This library reads a number in a name as an optional sign, digits
// with at most one decimal point (the first comma counts as one) and an optional exponent; anything else reads as
// 0. A dot inside a folder name of a path does not count as the start of the file extension.
#pragma once

#include <cstdint>
#include <string>

namespace vez {

// The name of the tile of size dx × dy that holds (x, y).
std::string KachelKoordToStr(double x, double y, float dx, float dy);
// Parses a tile name or tile file name into the lower-left corner in metres.
bool KachelStrToKoord(const std::string& name, double& x, double& y);
// base without its extension + tile name + ".t" + the base's extension.
std::string KachelFilename(const std::string& base, double x, double y, float dx, float dy);
// The tile's extent; nothing is written when the name does not parse.
bool KachelMinMax(const std::string& name, float dx, float dy, double& xmin, double& ymin, double& xmax,
                  double& ymax);
// −1 unparsable, 0 wholly outside [x1, x2] × [y1, y2], 2 wholly inside (edges included), 1 otherwise.
int32_t KachelIsInRect(const std::string& name, float dx, float dy, double x1, double y1, double x2, double y2);
// Widens the rectangle to the tile grid: minima down, maxima one step beyond their truncated multiple.
void SetKachelGrenze(double& xmin, double& ymin, double& xmax, double& ymax, float dx, float dy);
// Grid origin below (x1, y1) and the numbers of tiles (at least 1) needed to reach x2 and y2.
void GetKachelDim(double x1, double y1, double x2, double y2, float dx, float dy, double& x0, double& y0,
                  int32_t& nx, int32_t& ny);

}  // namespace vez
