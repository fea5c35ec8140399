// The library's version.
#pragma once

namespace vez {

inline constexpr const char* kLibraryName = "VEZiru0";
inline constexpr int kVersionMajor = 0;
inline constexpr int kVersionMinor = 1;
inline constexpr int kVersionPatch = 0;
inline constexpr const char* kVersionString = "0.1.0";

}  // namespace vez
