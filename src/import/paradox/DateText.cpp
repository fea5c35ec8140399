#include "import/paradox/DateText.h"

#include <cmath>

#include "core/FormatSettings.h"

namespace vez::detail {

std::string DateText(double dateTime) {
  if (!(std::fabs(dateTime) <= kMaxCalendarDays)) return FloatToStr(dateTime);
  return FormatDateTime(GlobalFormatSettings().ShortDateFormat, std::trunc(dateTime));
}

std::string IsoMillis(double dateTime) {
  if (!(std::fabs(dateTime) <= kMaxCalendarDays)) return FloatToStr(dateTime);
  FormatSettings iso;
  iso.TimeSeparator = ':';
  return FormatDateTime("yyyy-mm-dd'T'hh:nn:ss.zzz", dateTime, iso);
}

}  // namespace vez::detail
