// SHA-256 of a byte string, as lowercase hex (used to print BLOB values compactly).
#pragma once

#include <string>
#include <string_view>

namespace vez::detail {

std::string Sha256Hex(std::string_view data);

}  // namespace vez::detail
