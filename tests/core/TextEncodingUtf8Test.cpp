// Which byte sequences count as UTF-8: the shortest form only, no surrogates, nothing above U+10FFFF.
#include <gtest/gtest.h>

#include "core/TextEncoding.h"

namespace vez {
namespace {

TEST(TextEncodingUtf8, ShortestFormsOnly) {
  struct Case {
    const char* what;
    const char* bytes;
    bool valid;
  };
  const Case cases[] = {
      {"U+0080, the first two-byte character", "\xC2\x80", true},
      {"'/' overlong in two bytes", "\xC0\xAF", false},
      {"U+007F overlong in two bytes", "\xC1\xBF", false},
      {"U+0800, the first three-byte character", "\xE0\xA0\x80", true},
      {"U+07FF overlong in three bytes", "\xE0\x9F\xBF", false},
      {"'/' overlong in three bytes", "\xE0\x80\xAF", false},
      {"U+10000, the first four-byte character", "\xF0\x90\x80\x80", true},
      {"U+FFFF overlong in four bytes", "\xF0\x8F\xBF\xBF", false},
      {"U+10FFFF, the last character", "\xF4\x8F\xBF\xBF", true},
      {"U+110000", "\xF4\x90\x80\x80", false},
      {"U+D800, a surrogate", "\xED\xA0\x80", false},
      {"U+DFFF, a surrogate", "\xED\xBF\xBF", false},
      {"U+E000 after the surrogates", "\xEE\x80\x80", true},
      {"a lone continuation byte", "\x80", false},
      {"a five-byte lead", "\xF8\x88\x80\x80\x80", false},
      {"a sequence cut short", "\xE2\x82", false},
  };
  for (const Case& c : cases) EXPECT_EQ(c.valid, IsValidUtf8(c.bytes)) << c.what;
}

}  // namespace
}  // namespace vez
