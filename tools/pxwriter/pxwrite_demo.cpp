// pxwrite-demo FILE.db [RECORDS] [--library]: writes an emission-like Paradox table (an auto-increment key, an
// 80-character name, 31 numbers, 4 long integers, 2 logicals, 2 short integers and a short memo) for demos and
// benchmarks; with --library an emission library in Paradox form, whose fields are those of the library's layout
// (what a conversion test of a large table needs).
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "pxwriter/EmissionTable.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: pxwrite-demo FILE.db [RECORDS] [--library]\n";
    return 2;
  }
  const long records = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 1000;
  const bool library = argc > 3 && std::strcmp(argv[3], "--library") == 0;
  try {
    (library ? pxw::EmissionLibraryTable(static_cast<int>(records)) : pxw::EmissionTable(static_cast<int>(records)))
        .Write(argv[1]);
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
