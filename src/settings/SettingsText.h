// Small text helpers shared by the settings sources.
#pragma once

#include <cstdint>
#include <string_view>

namespace vez::detail {

// A decimal integer: optional sign, digits only, fitting 32 bits. No blanks, no hexadecimal.
bool TryDecimal(std::string_view text, std::int32_t& value);

}  // namespace vez::detail
