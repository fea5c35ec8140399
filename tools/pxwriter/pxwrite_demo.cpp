// pxwrite-demo FILE.db [RECORDS]: writes an emission-like Paradox table (an auto-increment key, an 80-character
// name, 31 numbers, 4 long integers, 2 logicals, 2 short integers and a short memo) for demos and benchmarks.
#include <cstdlib>
#include <iostream>

#include "pxwriter/EmissionTable.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: pxwrite-demo FILE.db [RECORDS]\n";
    return 2;
  }
  const long records = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 1000;
  try {
    pxw::EmissionTable(static_cast<int>(records)).Write(argv[1]);
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
