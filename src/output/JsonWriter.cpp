#include "output/JsonWriter.h"

#include <cmath>
#include <ostream>
#include <string>

#include <fmt/format.h>

#include "output/ValueText.h"

namespace vez {

JsonWriter::JsonWriter(std::ostream& out, Layout layout, int indent) : out_(out), layout_(layout), indent_(indent) {}

void JsonWriter::NewLine(std::size_t depth) {
  out_ << '\n' << std::string(depth * static_cast<std::size_t>(indent_), ' ');
}

// Separator and line break before a member or an item; nothing after a key.
void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (levels_.empty()) return;
  Level& level = levels_.back();
  if (level.count > 0) out_ << (layout_ == Layout::Spaced && !level.itemsOnLines ? ", " : ",");
  if (layout_ == Layout::Indented || level.itemsOnLines) NewLine(levels_.size());
  ++level.count;
}

void JsonWriter::Close(char bracket) {
  const Level level = levels_.back();
  levels_.pop_back();
  if (level.count > 0 && (layout_ == Layout::Indented || level.itemsOnLines)) NewLine(levels_.size());
  out_ << bracket;
}

JsonWriter& JsonWriter::BeginObject() {
  BeforeValue();
  out_ << '{';
  levels_.push_back({true, false, 0});
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  Close('}');
  return *this;
}

JsonWriter& JsonWriter::BeginArray(bool itemsOnLines) {
  BeforeValue();
  out_ << '[';
  levels_.push_back({false, itemsOnLines, 0});
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  Close(']');
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view name) {
  BeforeValue();
  out_ << JsonString(name) << (layout_ == Layout::Compact ? ":" : ": ");
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
  BeforeValue();
  out_ << JsonString(text);
  return *this;
}

JsonWriter& JsonWriter::Number(double value) {
  BeforeValue();
  out_ << (std::isfinite(value) ? NumberText(value) : std::string("null"));
  return *this;
}

JsonWriter& JsonWriter::Number(float value) {
  BeforeValue();
  out_ << (std::isfinite(value) ? fmt::format("{}", value) : std::string("null"));
  return *this;
}

JsonWriter& JsonWriter::Integer(std::int64_t value) {
  BeforeValue();
  out_ << value;
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ << (value ? "true" : "false");
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  out_ << "null";
  return *this;
}

JsonWriter& JsonWriter::Raw(std::string_view json) {
  BeforeValue();
  out_ << json;
  return *this;
}

}  // namespace vez
