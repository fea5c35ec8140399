// The one JSON writer of the library: the dumps, the reports of the conversion, the import and the spectra, and
// whatever else prints JSON, write through it, so strings and numbers look the same everywhere.
//
// Layouts: Compact ({"a":1,"b":[1,2]}), Spaced ({"a": 1, "b": [1, 2]}) and Indented (every member and item on
// a line of its own, indented by `indent` blanks per level, "key": value, empty containers as {} and []). An
// array begun with itemsOnLines puts each item on a line of its own, indented by one level, in any layout (the
// record lists of the dumps). Strings go through JsonString, doubles through NumberText (non-finite: null),
// floats in their own shortest form. The writer streams: nothing is kept but the nesting.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string_view>
#include <type_traits>
#include <vector>

namespace vez {

class JsonWriter {
public:
  enum class Layout { Compact, Spaced, Indented };

  explicit JsonWriter(std::ostream& out, Layout layout = Layout::Spaced, int indent = 2);

  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray(bool itemsOnLines = false);
  JsonWriter& EndArray();
  // The name of the next member of the current object.
  JsonWriter& Key(std::string_view name);

  JsonWriter& String(std::string_view text);
  JsonWriter& Number(double value);
  JsonWriter& Number(float value);
  JsonWriter& Integer(std::int64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();
  // A value already in JSON form.
  JsonWriter& Raw(std::string_view json);

  // Key(name) followed by the value.
  template <typename T>
  JsonWriter& Member(std::string_view name, const T& value) {
    Key(name);
    return Value(value);
  }

private:
  struct Level {
    bool object = false;
    bool itemsOnLines = false;
    int count = 0;
  };
  JsonWriter& Value(std::string_view v) { return String(v); }
  JsonWriter& Value(const char* v) { return String(v); }
  JsonWriter& Value(bool v) { return Bool(v); }
  JsonWriter& Value(double v) { return Number(v); }
  JsonWriter& Value(float v) { return Number(v); }
  template <typename T>
  JsonWriter& Value(const T& v) requires(std::is_integral_v<T>) { return Integer(static_cast<std::int64_t>(v)); }
  template <typename T>
  JsonWriter& Value(const T& v) requires(std::is_convertible_v<const T&, std::string_view>) {
    return String(std::string_view(v));
  }

  void BeforeValue();
  void NewLine(std::size_t depth);
  void Close(char bracket);

  std::ostream& out_;
  Layout layout_;
  int indent_;
  std::vector<Level> levels_;
  bool afterKey_ = false;
};

}  // namespace vez
