// Uses a few core routines of the installed library and prints what they give.
#include <iostream>

#include "core/FileMask.h"
#include "core/FormatSettings.h"
#include "core/Variant.h"
#include "core/Version.h"

int main() {
  const vez::Variant level(45.26);
  std::cout << vez::kLibraryName << ' ' << vez::kVersionString << '\n';
  std::cout << "level " << vez::FloatToStrF(level.AsFloat(), vez::FloatFormat::Fixed, 7, 1) << " dB\n";
  std::cout << "result library: " << (vez::MatchesMask("RREC0001.abs", "RREC????.abs") ? "yes" : "no") << '\n';
  return 0;
}
