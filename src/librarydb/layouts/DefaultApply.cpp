// Assignment of the new-record defaults, independent of the table engine.
#include <algorithm>
#include <charconv>
#include <string>

#include "core/FormatSettings.h"
#include "librarydb/Defaults.h"
#include "librarydb/layouts/DefaultRows.h"

namespace vez::detail {
namespace {

Variant ConstantValue(const Constant& c) {
  switch (c.kind) {
    case ConstantKind::Integer: return Variant(static_cast<long long>(c.integer));
    case ConstantKind::Float: return Variant(c.number);
    case ConstantKind::Boolean: return Variant(c.boolean);
    case ConstantKind::Text: return Variant(c.text);
    case ConstantKind::None: break;
  }
  return Variant();
}

// Short date and long time of the process settings; the long time carries whole seconds only.
std::string NowAsText(double now) {
  const FormatSettings& settings = GlobalFormatSettings();
  return FormatDateTime(settings.ShortDateFormat + " " + settings.LongTimeFormat, now);
}

}  // namespace

Variant DefaultValue(const DefaultRow& row, const Assignment& column, double now) {
  switch (row.source) {
    case Source::Constant: return ConstantValue(column.value);
    case Source::Now: return Variant::FromDateTime(now);
    case Source::NowAsText: return Variant(NowAsText(now));
    case Source::CurrentYear:
    case Source::CurrentYearLeap: {
      int year = 0, month = 0, day = 0;
      DecodeDate(now, year, month, day);
      if (row.source == Source::CurrentYear) return Variant(year);
      return Variant(IsLeapYearGregorian(year));
    }
  }
  return Variant();
}

NumberedName::NumberedName(std::string_view stem, std::int32_t n) {
  if (stem.size() + 12 > sizeof(buffer_)) {
    long_ = std::string(stem) + std::to_string(n);
    name_ = long_;
    return;
  }
  std::copy(stem.begin(), stem.end(), buffer_);
  char* end = std::to_chars(buffer_ + stem.size(), buffer_ + sizeof(buffer_), n).ptr;
  name_ = std::string_view(buffer_, static_cast<std::size_t>(end - buffer_));
}

}  // namespace vez::detail

namespace vez {

bool HasNewRecordDefaults(std::int32_t LibType) {
  bool found = false;
  detail::FindDefaultRows(LibType, found);
  return found;
}

}  // namespace vez
