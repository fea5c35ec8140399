#include "import/internal/DateText.h"

#include <cmath>
#include <cstdio>

#include "core/FormatSettings.h"

namespace vez::detail {

CivilDate CivilFromDays(std::int64_t days) {
  // Days since 1970-01-01, then the era-based conversion of the proleptic Gregorian calendar.
  const std::int64_t z = days - 25569 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (m <= 2 ? 1 : 0), m, d};
}

namespace {

std::string Padded(std::int64_t v, int width) {
  char buf[32];
  if (v < 0) std::snprintf(buf, sizeof buf, "-%0*lld", width, static_cast<long long>(-v));
  else std::snprintf(buf, sizeof buf, "%0*lld", width, static_cast<long long>(v));
  return buf;
}

}  // namespace

std::string DateText(double dateTime) {
  if (!(std::fabs(dateTime) <= kMaxCalendarDays)) return FloatToStr(dateTime);
  const CivilDate c = CivilFromDays(static_cast<std::int64_t>(std::trunc(dateTime)));
  const FormatSettings& fs = GlobalFormatSettings();
  const std::string& picture = fs.ShortDateFormat;
  std::string out;
  for (std::size_t i = 0; i < picture.size();) {
    const char ch = picture[i];
    const char lower = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch + 32 : ch);
    if (lower == 'y' || lower == 'm' || lower == 'd') {
      std::size_t n = 1;
      while (i + n < picture.size() && (picture[i + n] | 0x20) == lower) ++n;
      if (lower == 'y') out += n <= 2 ? Padded(((c.Year % 100) + 100) % 100, 2) : Padded(c.Year, 4);
      else out += Padded(lower == 'm' ? c.Month : c.Day, n >= 2 ? 2 : 1);
      i += n;
    } else if (ch == '/') {
      out += fs.DateSeparator;
      ++i;
    } else if (ch == '"' || ch == '\'') {
      const std::size_t end = picture.find(ch, i + 1);
      out += picture.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
      i = end == std::string::npos ? picture.size() : end + 1;
    } else {
      out += ch;
      ++i;
    }
  }
  return out;
}

std::string IsoMillis(double dateTime) {
  if (!(std::fabs(dateTime) <= kMaxCalendarDays)) return FloatToStr(dateTime);
  std::int64_t day = static_cast<std::int64_t>(std::trunc(dateTime));
  std::int64_t ms = std::llround(std::fabs(dateTime - std::trunc(dateTime)) * 86400000.0);
  if (ms >= 86400000) {
    ms -= 86400000;
    ++day;
  }
  const CivilDate c = CivilFromDays(day);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s-%02d-%02dT%02d:%02d:%02d.%03d", Padded(c.Year, 4).c_str(), c.Month, c.Day,
                static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                static_cast<int>(ms % 1000));
  return buf;
}

}  // namespace vez::detail
