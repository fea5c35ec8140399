#include "core/FileMask.h"

#include <vector>

namespace vez {

namespace {

char Fold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// Matches one "[...]" set starting at mask[m] (the "[") against c. On success sets `next` to the position after
// the "]". Returns false for an unterminated set (then the "[" is literal).
bool MatchSet(std::string_view mask, std::size_t m, char c, bool& matched, std::size_t& next) {
  std::size_t i = m + 1;
  bool negate = false;
  if (i < mask.size() && mask[i] == '!') {
    negate = true;
    ++i;
  }
  const std::size_t close = mask.find(']', i + (i < mask.size() && mask[i] == ']' ? 1 : 0));
  if (close == std::string_view::npos) return false;
  bool in = false;
  const char fc = Fold(c);
  while (i < close) {
    const char lo = Fold(mask[i]);
    if (i + 2 < close && mask[i + 1] == '-') {
      const char hi = Fold(mask[i + 2]);
      if (static_cast<unsigned char>(fc) >= static_cast<unsigned char>(lo) &&
          static_cast<unsigned char>(fc) <= static_cast<unsigned char>(hi))
        in = true;
      i += 3;
    } else {
      if (fc == lo) in = true;
      ++i;
    }
  }
  matched = in != negate;
  next = close + 1;
  return true;
}

}  // namespace

bool MatchesMask(std::string_view name, std::string_view mask) {
  // Iterative matcher with backtracking to the last "*": linear in practice, no recursion depth issues.
  std::size_t n = 0, m = 0;
  std::size_t starM = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (m < mask.size()) {
      const char mc = mask[m];
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
        } else if (Fold(name[n]) == '[') {
          ++m;
          ++n;
          continue;
        }
      } else if (Fold(mc) == Fold(name[n])) {
        ++m;
        ++n;
        continue;
      }
    }
    if (starM == std::string_view::npos) return false;
    m = starM + 1;
    n = ++starN;
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace vez
