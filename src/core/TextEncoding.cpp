#include "core/TextEncoding.h"

#include <iconv.h>

#include <cerrno>

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"

namespace vez {

std::string CodePageName(int codePage) {
  if (codePage == kCodePageUtf8) return "UTF-8";
  if (codePage == 20127) return "ASCII";
  if (codePage >= 28591 && codePage <= 28606) return "ISO-8859-" + std::to_string(codePage - 28590);
  if (codePage == 20866) return "KOI8-R";
  if (codePage == 10000) return "MACINTOSH";
  if ((codePage >= 437 && codePage <= 1258) || codePage == 874) return "CP" + std::to_string(codePage);
  return std::string();
}

namespace {


// Decodes one UTF-8 sequence at s[i]; returns false (and leaves i) for an invalid one.
bool DecodeUtf8(std::string_view s, std::size_t& i, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  int len;
  char32_t min;
  if (b0 < 0x80) {
    cp = b0;
    ++i;
    return true;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (i + static_cast<std::size_t>(len) > s.size()) return false;
  for (int k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
  i += static_cast<std::size_t>(len);
  return true;
}

// The 256 characters of a single-byte code page, built once through iconv.
struct CodePageTable {
  std::array<char32_t, 256> ToUnicode{};
  std::unordered_map<char32_t, unsigned char> FromUnicode;
};

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

std::unique_ptr<CodePageTable> BuildTable(int codePage) {
  const std::string name = CodePageName(codePage);
  if (name.empty() || codePage == kCodePageUtf8) return nullptr;
  iconv_t raw = iconv_open("UTF-32LE", name.c_str());
  if (raw == reinterpret_cast<iconv_t>(-1)) return nullptr;
  std::unique_ptr<void, IconvCloser> cd(raw);
  auto table = std::make_unique<CodePageTable>();
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    unsigned char out[16];
    char* inp = &in;
    char* outp = reinterpret_cast<char*>(out);
    std::size_t inLeft = 1, outLeft = sizeof out;
    iconv(static_cast<iconv_t>(cd.get()), nullptr, nullptr, nullptr, nullptr);
    const std::size_t r = iconv(static_cast<iconv_t>(cd.get()), &inp, &inLeft, &outp, &outLeft);
    char32_t cp;
    if (r == static_cast<std::size_t>(-1) || sizeof out - outLeft != 4) {
      // Undefined byte: the control character of the same number keeps it recoverable.
      cp = static_cast<char32_t>(b);
    } else {
      cp = static_cast<char32_t>(out[0] | (out[1] << 8) | (out[2] << 16) | (out[3] << 24));
    }
    table->ToUnicode[static_cast<std::size_t>(b)] = cp;
  }
  for (int b = 255; b >= 0; --b) table->FromUnicode[table->ToUnicode[static_cast<std::size_t>(b)]] =
      static_cast<unsigned char>(b);
  return table;
}

const CodePageTable* TableFor(int codePage) {
  static std::mutex mutex;
  static std::map<int, std::unique_ptr<CodePageTable>> tables;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = tables.find(codePage);
  if (it == tables.end()) it = tables.emplace(codePage, BuildTable(codePage)).first;
  return it->second.get();
}

// One iconv converter per multi-byte code page and direction, opened once; conversions hold the lock, as an
// iconv descriptor keeps state.
class MultiByteConverter {
public:
  MultiByteConverter(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~MultiByteConverter() {
    if (Valid()) iconv_close(cd_);
  }
  MultiByteConverter(const MultiByteConverter&) = delete;
  MultiByteConverter& operator=(const MultiByteConverter&) = delete;
  bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much of `in` as forms valid sequences; returns the bytes consumed (stops at the first bad one).
  std::size_t Convert(std::string_view in, std::string& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* inp = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char buf[1024];
    while (inLeft > 0) {
      char* outp = buf;
      std::size_t outLeft = sizeof buf;
      const std::size_t r = iconv(cd_, &inp, &inLeft, &outp, &outLeft);
      out.append(buf, sizeof buf - outLeft);
      if (r == static_cast<std::size_t>(-1) && errno != E2BIG) break;
    }
    return in.size() - inLeft;
  }

private:
  iconv_t cd_;
  std::mutex mutex_;
};

MultiByteConverter* ConverterFor(int codePage, bool toUtf8) {
  static std::mutex mutex;
  static std::map<std::pair<int, bool>, std::unique_ptr<MultiByteConverter>> converters;
  std::lock_guard<std::mutex> lock(mutex);
  auto& slot = converters[{codePage, toUtf8}];
  if (!slot) {
    const std::string name = CodePageName(codePage);
    slot = toUtf8 ? std::make_unique<MultiByteConverter>("UTF-8", name)
                  : std::make_unique<MultiByteConverter>(name, "UTF-8");
  }
  return slot->Valid() ? slot.get() : nullptr;
}

MultiByteConverter& RequireConverter(int codePage, bool toUtf8) {
  MultiByteConverter* c = ConverterFor(codePage, toUtf8);
  if (!c) throw EConvertError(Format("Code page %d is not supported", codePage));
  return *c;
}

std::string MultiByteToUtf8(std::string_view bytes, int codePage) {
  MultiByteConverter& c = RequireConverter(codePage, true);
  std::string out;
  out.reserve(bytes.size() * 3 / 2);
  while (!bytes.empty()) {
    const std::size_t used = c.Convert(bytes, out);
    bytes.remove_prefix(used);
    if (bytes.empty()) break;
    // A byte that starts no valid sequence: the character of the same number keeps it.
    AppendUtf8(out, static_cast<unsigned char>(bytes.front()));
    bytes.remove_prefix(1);
  }
  return out;
}

std::string Utf8ToMultiByte(std::string_view text, int codePage, int* substitutions) {
  MultiByteConverter& c = RequireConverter(codePage, false);
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t begin = i;
    char32_t cp;
    std::string one;
    if (!DecodeUtf8(text, i, cp)) {
      cp = static_cast<unsigned char>(text[i]);  // stray byte: read as Latin-1
      ++i;
      AppendUtf8(one, cp);
    } else {
      one.assign(text.substr(begin, i - begin));
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (c.Convert(one, out) != one.size()) {
      out += '?';
      if (substitutions) ++*substitutions;
    }
  }
  return out;
}

const CodePageTable& RequireTable(int codePage) {
  const CodePageTable* t = TableFor(codePage);
  if (!t) throw EConvertError(Format("Code page %d is not supported", codePage));
  return *t;
}

}  // namespace

bool IsMultiByteCodePage(int codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

bool CodePageSupported(int codePage) {
  if (IsMultiByteCodePage(codePage)) return ConverterFor(codePage, true) != nullptr;
  return codePage == kCodePageUtf8 || TableFor(codePage) != nullptr;
}

std::int32_t CodePageOfNumber(std::int64_t codePage) {
  if (codePage < 1 || codePage > 65535 || !CodePageSupported(static_cast<int>(codePage)))
    throw EParameterError("The code page " + std::to_string(codePage) +
                          " cannot be converted (give a Windows code page number such as 1252, 850 or 932)");
  return static_cast<std::int32_t>(codePage);
}

std::size_t Utf8SequenceLength(std::string_view bytes, std::size_t i) {
  std::size_t end = i;
  char32_t cp;
  return DecodeUtf8(bytes, end, cp) ? end - i : 0;
}

bool IsValidUtf8(std::string_view bytes) {
  std::size_t i = 0;
  char32_t cp;
  while (i < bytes.size())
    if (!DecodeUtf8(bytes, i, cp)) return false;
  return true;
}

std::string ToUtf8(std::string_view bytes, int codePage) {
  if (codePage == kCodePageUtf8) return std::string(bytes);
  if (IsMultiByteCodePage(codePage)) return MultiByteToUtf8(bytes, codePage);
  const CodePageTable& t = RequireTable(codePage);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (char c : bytes) {
    const char32_t cp = t.ToUnicode[static_cast<unsigned char>(c)];
    if (cp < 0x80) out += static_cast<char>(cp);
    else AppendUtf8(out, cp);
  }
  return out;
}

std::string FromUtf8(std::string_view text, int codePage, int* substitutions) {
  if (codePage == kCodePageUtf8) return std::string(text);
  if (IsMultiByteCodePage(codePage)) return Utf8ToMultiByte(text, codePage, substitutions);
  const CodePageTable& t = RequireTable(codePage);
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    char32_t cp;
    if (!DecodeUtf8(text, i, cp)) {
      cp = static_cast<unsigned char>(text[i]);  // stray byte: read as Latin-1
      ++i;
    }
    if (cp < 0x80 && t.ToUnicode[cp] == cp) {
      out += static_cast<char>(cp);
      continue;
    }
    const auto it = t.FromUnicode.find(cp);
    if (it != t.FromUnicode.end()) {
      out += static_cast<char>(it->second);
    } else {
      out += '?';
      if (substitutions) ++*substitutions;
    }
  }
  return out;
}

std::string ConvertCodePage(std::string_view bytes, int fromCodePage, int toCodePage, int* substitutions) {
  return FromUtf8(ToUtf8(bytes, fromCodePage), toCodePage, substitutions);
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace vez
