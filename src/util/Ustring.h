// Text functions of the suite: padding, short number and level texts, duration texts, number scanners,
// field splitting with separator detection, natural alphanumeric order, OEM/ANSI code pages, the computer
// name, and the tab order of a window's controls.
//
// Strings are byte strings (std::string); positions are 1-based as in the suite's files and dialogs.
//
// The scanners (striint, striBool, strireal, StriFloat, stristri) walk through a line: Pos is the 1-based
// position where scanning starts, they advance it past what they read, and on an error they set Err to 1, leave
// Pos where it was and return 0. They never throw. A Pos of 0 is an error as well, and so is a text that is no
// number (even when the caller's range would include the internal marker values kStriIntInvalid and
// kStriRealInvalid). Pos is a 16-bit number, so a scanner sees at most the first 65534 characters of a line.
//
// All functions are stateless. StrToValue and PegelToStr use the process decimal separator of
// GlobalFormatSettings().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vez {

class StringList;

// ---- padding ----

// S followed by Ch up to Len characters; S itself when it is already that long.
std::string PadCh(std::string_view S, char Ch, std::int32_t Len);
std::string Pad(std::string_view S, std::int32_t Len);
// Ch before S up to Len characters.
std::string LeftPadCh(std::string_view S, char Ch, std::int32_t Len);
std::string LeftPad(std::string_view S, std::int32_t Len);

// ---- numbers, levels and durations ----

// X with at most 5 decimals, trailing zeros and point removed: 2.5 -> "2.5", 3 -> "3", 0.000001 -> "0".
// Always "." as decimal point; a value that shows as zero has no sign; infinities "INF"/"-INF", NaN "NAN".
std::string F2SShort(double X);
// Level with Digits decimals (fixed format, precision 7) when above Threshold, else "-".
std::string PegelToStr(double Level, double Threshold, std::uint8_t Digits);
// A millisecond count as "dd:hh:mm [d:h:m]", "hh:mm:ss [h:m:s]" or "mm:ss:mmm [m:s:ms]".
std::string MsecToStr(std::int32_t Ms);
// The span between two date-times (days with fraction) in the forms of MsecToStr; the milliseconds form only
// when ShowMs is set and the span is below one hour. The span is rounded to whole milliseconds before it is
// split, so that 1.5 s stored as 1.4999999 s still shows 1 s 500 ms.
std::string DiffTimeStr(double T1, double T2, bool ShowMs);

// ---- scanners ----

// The integer marker of an unreadable number, and the real one.
constexpr std::int32_t kStriIntInvalid = -2147483646;  // 0x80000002
constexpr double kStriRealInvalid = -1e40;

// The next integer (characters "0".."9" and "-") at or after Pos, within Min..Max. Text before the number is
// skipped up to a character 0 or 254. An unreadable number is an error whatever the range.
std::int32_t striint(std::string_view S, std::uint16_t& Pos, std::int32_t Min, std::int32_t Max, std::uint8_t& Err);
// striint within 0..1; true for 1.
bool striBool(std::string_view S, std::uint16_t& Pos, std::uint8_t& Err);
// The next real number (characters "0".."9", ",", "-" and "."; "," reads as "."; "7." reads as 7).
double strireal(std::string_view S, std::uint16_t& Pos, double Min, double Max, std::uint8_t& Err);
// As strireal with DecSep as the only decimal separator.
double StriFloat(std::string_view S, std::uint16_t& Pos, double Min, double Max, std::uint8_t& Err, char DecSep);
// The text from Pos up to the next Sep (possibly empty); Pos moves past Sep. Err 1 and Pos unchanged when no
// Sep follows (a last field must be closed by Sep) or Pos lies beyond the text.
void stristri(std::string_view S, std::uint16_t& Pos, char Sep, std::string& Sub, std::uint8_t& Err);

// ---- fields ----

// Tab if S has one, else ";", else blank, else ",", else '\0'.
char SearchSeparator(std::string_view S);
// Takes the next field (trimmed) off the front of S; false when nothing is left. A field that starts with Sep
// is empty; with Sep a blank, runs of blanks separate like one.
bool GetNextSubStr(char Sep, std::string& S, std::string& Sub);
// Splits a title line into List by the separator SearchSeparator finds (returned in Sep, '\0' when none).
// False when List is null, S is empty, there is no separator or no field.
bool GetTitleTexts(std::string_view S, char& Sep, StringList* List);
// Reads a number with "." or "," as decimal point (blanks around allowed); false and Value 0 when it is none.
bool StrToValue(std::string_view S, double& Value);

// Natural order: runs of digits compare by number ("a2" < "a10", "a02" = "a2"), all else by byte value
// (case-sensitive). -1, 0 or 1.
int CompareAlphaNum(std::string_view A, std::string_view B);

// ---- platform ----

// OEM text (code page 850) to ANSI text (code page 1252) and back, byte for byte; characters the target code
// page lacks become "?". At most 255 bytes are converted (longer text is cut).
std::string ConvStrToANSI(std::string_view S);
std::string ConvStrToOEM(std::string_view S);

// The machine's host name without domain, cut to 15 characters; "" when it cannot be read.
std::string GetMyComputerName();

// A control on a window as SetTabOrder sees it. The caller's window system implements it; the children form a
// tree (no control is its own descendant). Child(i) is valid for 0 <= i < ChildCount().
class TScreenControl {
public:
  virtual ~TScreenControl() = default;
  virtual int ChildCount() const = 0;
  virtual TScreenControl& Child(int index) = 0;
  // Windowed controls take part in the tab order and may have children of their own.
  virtual bool IsWindowed() const = 0;
  virtual std::int32_t Top() const = 0;
  virtual std::int32_t Left() const = 0;
  virtual void SetTabOrder(std::int32_t order) = 0;
};

// Gives the windowed children of Parent, and recursively theirs, tab orders 0, 1, 2, ... in reading order
// (by Top, then Left). Children at the same place keep their child order.
void SetTabOrder(TScreenControl& Parent);

}  // namespace vez
