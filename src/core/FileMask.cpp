#include "core/FileMask.h"

#include <vector>

#include "core/CaseFold.h"

namespace vez {

namespace {

using Text = std::vector<char32_t>;

Text Folded(std::string_view s) {
  Text t = DecodeUtf8Lenient(s);
  for (char32_t& c : t) c = FoldCodePoint(c);
  return t;
}

// Matches one "[...]" set starting at mask[m] (the "[") against c. On success sets `next` to the position after
// the "]". Returns false for an unterminated set (then the "[" is literal).
bool MatchSet(const Text& mask, std::size_t m, char32_t c, bool& matched, std::size_t& next) {
  std::size_t i = m + 1;
  bool negate = false;
  if (i < mask.size() && mask[i] == '!') {
    negate = true;
    ++i;
  }
  std::size_t close = i + (i < mask.size() && mask[i] == ']' ? 1 : 0);
  while (close < mask.size() && mask[close] != ']') ++close;
  if (close >= mask.size()) return false;
  bool in = false;
  while (i < close) {
    const char32_t lo = mask[i];
    if (i + 2 < close && mask[i + 1] == '-') {
      if (c >= lo && c <= mask[i + 2]) in = true;
      i += 3;
    } else {
      if (c == lo) in = true;
      ++i;
    }
  }
  matched = in != negate;
  next = close + 1;
  return true;
}

}  // namespace

bool MatchesMask(std::string_view nameText, std::string_view maskText) {
  const Text name = Folded(nameText);
  const Text mask = Folded(maskText);
  // Iterative matcher with backtracking to the last "*": linear in practice, no recursion depth issues.
  std::size_t n = 0, m = 0;
  std::size_t starM = static_cast<std::size_t>(-1), starN = 0;
  while (n < name.size()) {
    if (m < mask.size()) {
      const char32_t mc = mask[m];
      if (mc == '*') {
        starM = m++;
        starN = n;
        continue;
      }
      if (mc == '?') {
        ++m;
        ++n;
        continue;
      }
      if (mc == '[') {
        bool matched;
        std::size_t next;
        if (MatchSet(mask, m, name[n], matched, next)) {
          if (matched) {
            m = next;
            ++n;
            continue;
          }
        } else if (name[n] == '[') {
          ++m;
          ++n;
          continue;
        }
      } else if (mc == name[n]) {
        ++m;
        ++n;
        continue;
      }
    }
    if (starM == static_cast<std::size_t>(-1)) return false;
    m = starM + 1;
    n = ++starN;
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace vez
