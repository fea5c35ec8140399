#include "core/CaseFold.h"

#include "core/TextEncoding.h"

namespace vez {

namespace {

// Decodes one sequence at text[i]; gives the length (0 when the byte starts no valid sequence).
std::size_t DecodeOne(std::string_view text, std::size_t i, char32_t& out) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) {
    out = b0;
    return 1;
  }
  std::size_t n;
  char32_t c;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    n = 2, c = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 3, c = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 4, c = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  out = c;
  return n;
}

}  // namespace

char32_t FoldCodePoint(char32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 32 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    if (c == 0x178) return 0xFF;
    // Pairs start on even code points below U+0138 and on odd ones from U+0139 to U+0148 and U+0179.
    const bool oddPairs = (c >= 0x139 && c <= 0x148) || c >= 0x179;
    const bool upper = oddPairs ? (c % 2 == 1) : (c % 2 == 0);
    return upper ? c + 1 : c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  if (c == 0x1E9E) return 0xDF;
  return c;
}

std::vector<char32_t> DecodeUtf8Lenient(std::string_view text) {
  std::vector<char32_t> out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    const std::size_t n = DecodeOne(text, i, c);
    if (n == 0) {
      out.push_back(0xDC00 + static_cast<unsigned char>(text[i]));
      ++i;
    } else {
      out.push_back(c);
      i += n;
    }
  }
  return out;
}

std::string FoldCase(std::string_view text) {
  // One pass: ASCII letters fold in place, a sequence beyond ASCII is decoded, folded and written again, and a
  // byte that starts no valid sequence stays as it is.
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char ch = text[i];
    if (static_cast<unsigned char>(ch) < 0x80) {
      out += ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + 32) : ch;
      ++i;
      continue;
    }
    char32_t c = 0;
    const std::size_t n = DecodeOne(text, i, c);
    if (n == 0) {
      out += ch;
      ++i;
    } else {
      AppendUtf8(out, FoldCodePoint(c));
      i += n;
    }
  }
  return out;
}

bool SameTextFolded(std::string_view a, std::string_view b) { return FoldCase(a) == FoldCase(b); }

int CompareTextFolded(std::string_view a, std::string_view b) {
  const std::string fa = FoldCase(a), fb = FoldCase(b);
  return fa < fb ? -1 : fa > fb ? 1 : 0;
}

std::size_t Utf8Length(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    const std::size_t n = static_cast<unsigned char>(text[i]) < 0x80 ? 1 : DecodeOne(text, i, c);
    i += n == 0 ? 1 : n;
    ++count;
  }
  return count;
}

}  // namespace vez
