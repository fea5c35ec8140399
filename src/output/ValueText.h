// The text forms of field values that every front end prints: CSV fields, JSON strings and values, numbers,
// Base64 of binary values, and the one text of bytes that are not valid UTF-8.
//
// A value is written by the style of its column (ValueStyle), taken from the column's field type:
// - numbers in the shortest form that reads back as the same double, always with "." (never the locale);
// - Booleans "true"/"false", dates and times in ISO 8601 (DateTimeToISO), binary values in Base64;
// - text as it is; in JSON, bytes that are not part of valid UTF-8 (old libraries hold Windows code-page text)
//   each become the character of the same number (U+0080 to U+00FF), so nothing is dropped;
// - Null and Empty: no text (an empty CSV field, JSON null). A non-finite number is null in JSON.
// A reader may report a value its column type cannot hold as text (a Paradox date beyond any calendar): the
// text is shown as it is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/Variant.h"
#include "librarydb/Absmain.h"

namespace vez {

// How a column's values are written.
enum class ValueStyle { Text, Integer, Float, Boolean, DateTime, Binary };

ValueStyle ValueStyleOf(TFieldType type);

// The field type a Paradox field type code is read as (the conversion gives converted tables the same types);
// ftString for codes without a type of their own.
TFieldType ParadoxColumnType(std::int32_t paradoxType);

// The label of an engine type code as `vezi info` shows it ("text", "int16", "int32", "uint16", "autoinc",
// "double", "boolean", "datetime", "blob", "graphic", "memo"; "code N" for others).
std::string EngineTypeLabel(std::int32_t code);
// Index options as words joined by ",": "primary", "unique", "descending", "case-insensitive"; "none".
std::string IndexOptionsText(TIndexOptions options);

// RFC 4648 Base64 with padding.
std::string Base64(std::string_view bytes);

// RFC 4180: a field with a comma, double quote, CR or LF is enclosed in double quotes, its quotes doubled.
std::string CsvField(std::string_view text);
// Appends the field to `out` for a file separated by `separator`: quoted as CsvField quotes it, when it holds the
// separator, a quote or a line end.
void AppendCsvField(std::string& out, std::string_view text, char separator);

// Valid UTF-8 sequences kept, every other byte taken as the character of the same number.
std::string Utf8OrLatin1(std::string_view bytes);

// A quoted JSON string: '"' and '\' escaped, LF, CR and TAB as \n, \r, \t, other control characters and bytes
// outside valid UTF-8 as \u00XX.
std::string JsonString(std::string_view text);

// The shortest text that reads back as the same double, with "."; "NaN", "Infinity", "-Infinity".
std::string NumberText(double value);
// NumberText of a finite value written at `out`, which has room for kNumberChars characters: the end of the text.
inline constexpr std::size_t kNumberChars = 32;
char* WriteNumber(char* out, double value);

// The double nearest to the shortest decimal text of a float: -26.2f gives -26.2, not -26.200000762939453.
// Values computed in single precision (weightings, band levels) are handed on to doubles in this form.
double FloatAsDecimal(float value);

// The text of a value in a column of the style (CSV); nullopt for Null and Empty.
std::optional<std::string> PlainText(const Variant& value, ValueStyle style);

// The JSON text of a value in a column of the style.
std::string JsonValue(const Variant& value, ValueStyle style);

}  // namespace vez
