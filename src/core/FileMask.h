// File-name masks as the suite's file dialogs and library-type lookup use them.
//
// MatchesMask matches the whole name without regard to letter case (CaseFold.h: "GRÖßE.DB" matches "größe.*"):
// "*" any run of characters (also none), "?" exactly one character (not one byte), "[abc]" one of a set,
// "[a-z]" a range of code points, "[!abc]" none of a set. A "[" without closing "]" is taken literally. Names
// are UTF-8; a byte that is not valid UTF-8 counts as one character of its own.
#pragma once

#include <string_view>

namespace vez {

bool MatchesMask(std::string_view name, std::string_view mask);

}  // namespace vez
