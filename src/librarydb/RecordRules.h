// The rules of a library record, as every front end stores one: the command line (`vezi add`, `vezi edit`,
// `vezi import`), the Python module, the browser and any later program go through TRecordWriter, so a record
// means the same whoever wrote it. The Paradox conversion does not: it copies what the old table holds.
//
// Values. A value reaches a field either typed (a Variant: Python's and JSON's values) or as the text a person
// typed (a command-line argument, a spreadsheet cell, a browser input). A text is first read as a value of the
// field's kind, with the writer's format settings (numbers "70.1", "1e3"; whole numbers "12" or "12.0";
// Booleans True/False, 1/0, yes/no in any case; dates in the short date format, with or without the time, or
// ISO 8601), then checked like a typed value. So the same input gives the same value, or the same message, in
// every front end. Every refusal is an EFieldValueError that names the field:
//   The field "Values8" takes a number, not "abc"
//   The field "Values8" takes a finite number, not NaN or an infinity
//   The field "Lower" takes a whole number from 0 to 65535, not 70000
//   The field "Lower" takes a whole number, not 2.5
//   The field "Terz" takes True or False, not 3
//   The field "ElementName" holds at most 80 characters, the text has 95
//   The field "ElementName" must not be empty
//   The field "ElementName" must not contain control characters (U+0000 at character 4)
//   The field "Graphic" takes bytes in Base64, not "x"
//   The library has no field "Colour"
//
// An auto-increment field takes a whole number like any other (a record keeps its number when it is copied); left
// alone it is numbered by the library. A binary field takes bytes, or as text their Base64 (the form the dumps and
// exports write).
//
// No value. A Null value, or an empty text for a field that is no text field, stores "no value": -199 in the
// fields whose new-record default is -199 (the band values and single values of the element and directivity
// libraries, where -199 dB has always meant "no value"), an empty field (NULL) everywhere else. An empty text
// for a text field stores the empty text.
//
// Rules at Post, in this order:
// 1. Names: in a library whose name index "EN" is unique, the first field of that index (the record's name)
//    must not be empty after trimming, and no text field of the index may hold control characters (U+0000 to
//    U+001F, U+007F to U+009F). Checked for new records and whenever the caller sets a name field.
// 2. Bands (emission, absorption, transmission and attenuation libraries): "Terz", "Lower", "Upper" and
//    "Komplett" follow from the band values the record holds (a band holding no value is absent), for new
//    records and whenever the caller sets a band field "Values1".."Values30". Octave records are those whose
//    two or more present bands are all octave centres; "Lower" and "Upper" are the first and last present band
//    of the kind; "Komplett" is True only when every band from "Lower" to "Upper" holds a value. A field the
//    caller sets keeps the caller's value (with "Lower" or "Upper" set, both keep the record's values), and the
//    others follow from it: a "Terz" of False counts only the octave centres.
// 3. "LastChangeDateTime" becomes the time of the post, unless the caller sets it.
//
// A refused post cancels the record (the table returns to browsing) and throws; nothing is stored.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Exceptions.h"
#include "core/FormatSettings.h"
#include "core/Variant.h"

namespace vez {

class TABSTable;
class TField;
class TNewRecordDefaults;

// Why a value or record was refused; front ends choose their error kinds by it (Python: ConvertError for a
// text that is no value of the kind, OverflowError for a whole number out of range, ValueError otherwise).
enum class TValueFault : std::uint8_t {
  UnknownField,
  NotEditable,     // fields of no kind a value can be given in
  WrongKind,       // a typed value of another kind (a Boolean for a number, a fraction for a whole number)
  NotConvertible,  // a text that is no value of the field's kind
  NotFinite,       // NaN or an infinity
  OutOfRange,      // a whole number beyond the field's range
  TooLong,         // a text longer than the field
  Empty,           // an empty name
  ControlCharacter,
};

class EFieldValueError : public EConvertError {
public:
  EFieldValueError(TValueFault Fault, std::string Field, const std::string& Message)
      : EConvertError(Message), fault_(Fault), field_(std::move(Field)) {}
  TValueFault Fault() const { return fault_; }
  const std::string& Field() const { return field_; }

private:
  TValueFault fault_;
  std::string field_;
};

// The "no value" of numbered band fields, in dB.
inline constexpr double kNoValue = -199.0;

// The number that stands for "no value" in a field of a library type: kNoValue where the type's new-record
// default of the field is -199, nullopt where "no value" is an empty field.
std::optional<double> NoValueNumber(std::int32_t LibType, std::string_view FieldName);

// Writes records of one open library table under the rules above. Bind once, write many: the fields, the
// type's defaults and the rules are looked up when the writer is made.
class TRecordWriter {
public:
  TRecordWriter(TABSTable& Table, std::int32_t LibType);
  ~TRecordWriter();
  TRecordWriter(const TRecordWriter&) = delete;
  TRecordWriter& operator=(const TRecordWriter&) = delete;

  // How texts are read (default: a copy of the process settings when the writer was made).
  void SetFormatSettings(const FormatSettings& Settings) { settings_ = Settings; }
  const FormatSettings& Settings() const { return settings_; }

  // A new record with the defaults of the library type, or the current record.
  void Append(double Now);
  void Edit();
  // For a caller that put the table into insert or edit state itself (the import's name check): a record being
  // inserted receives the defaults of the library type.
  void Begin(double Now);

  // The index of a field (any letter case); EFieldValueError UnknownField when the table has none.
  int FieldIndex(std::string_view Name) const;
  // Sets a field of the record being written. Truncate cuts a text longer than its field instead of refusing.
  void Set(int Field, const Variant& Value, bool Truncate = false);
  void SetText(int Field, std::string_view Text, bool Truncate = false);
  // Empties a field (NULL), whatever stands for "no value" in it: an empty cell of an imported file.
  void Clear(int Field);
  // A whole number of any size in decimal digits (Python's ints): within 64 bits as a typed integer, beyond
  // them refused as out of range for a whole-number or number field, as of another kind for other fields.
  void SetWholeNumber(int Field, std::string_view Digits);
  // Fields the caller sets in every new record before it posts (an import's linked fields): a new record does
  // not receive their defaults first. Nothing else changes: one of them left unset gets its default at Post.
  void SetsInEveryNewRecord(const std::vector<int>& Fields);
  // Whether the caller set the field since Append or Edit.
  bool IsSet(int Field) const { return set_[static_cast<std::size_t>(Field)]; }

  // Applies the rules and posts; on any failure the record is cancelled and the failure thrown.
  void Post(double Now);
  void Cancel();

  // The auto-increment number of the record last posted (nullopt for a table without such a field).
  std::optional<std::int64_t> Number() const { return number_; }

private:
  struct Bands;
  void ApplyMissedDefaults();
  void CheckNames();
  void DeriveBands();
  TField& At(int Field) const;

  TABSTable& table_;
  FormatSettings settings_;
  std::unique_ptr<TNewRecordDefaults> defaults_;
  std::vector<bool> set_;
  std::vector<bool> setByCaller_;  // per field: SetsInEveryNewRecord named it
  std::vector<int> callerFields_;   // and those fields
  double beginNow_ = 0;
  std::vector<std::optional<double>> noValue_;  // per field
  std::vector<int> nameFields_;                 // the text fields of a unique "EN" index, the name first
  bool nameUnique_ = false;
  int lastChange_ = -1;
  int autoInc_ = -1;
  std::unique_ptr<Bands> bands_;  // element libraries
  bool isNew_ = false;
  std::optional<std::int64_t> number_;
};

}  // namespace vez
