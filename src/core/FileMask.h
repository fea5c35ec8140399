// File-name masks as the suite's file dialogs and library-type lookup use them.
//
// MatchesMask matches the whole name, ignoring ASCII case: "*" any run of characters (also none), "?" exactly
// one character, "[abc]" one of a set, "[a-z]" a range, "[!abc]" none of a set. A "[" without closing "]" is
// taken literally. Names are compared byte by byte; non-ASCII letters compare exactly.
#pragma once

#include <string_view>

namespace vez {

bool MatchesMask(std::string_view name, std::string_view mask);

}  // namespace vez
