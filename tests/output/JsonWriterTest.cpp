#include <sstream>

#include <gtest/gtest.h>

#include "output/JsonWriter.h"

namespace vez {
namespace {

std::string Write(JsonWriter::Layout layout, bool itemsOnLines) {
  std::ostringstream out;
  JsonWriter json(out, layout);
  json.BeginObject().Member("name", "a\"b").Member("n", 3).Member("x", 0.5).Member("f", 0.1f).Key("list");
  json.BeginArray(itemsOnLines).Bool(true).Null().BeginObject().EndObject().BeginArray().EndArray().EndArray();
  json.Member("nan", std::numeric_limits<double>::quiet_NaN()).EndObject();
  return out.str();
}

TEST(JsonWriter, Layouts) {
  EXPECT_EQ(Write(JsonWriter::Layout::Compact, false),
            R"({"name":"a\"b","n":3,"x":0.5,"f":0.1,"list":[true,null,{},[]],"nan":null})");
  EXPECT_EQ(Write(JsonWriter::Layout::Spaced, false),
            R"({"name": "a\"b", "n": 3, "x": 0.5, "f": 0.1, "list": [true, null, {}, []], "nan": null})");
  EXPECT_EQ(Write(JsonWriter::Layout::Spaced, true),
            "{\"name\": \"a\\\"b\", \"n\": 3, \"x\": 0.5, \"f\": 0.1, \"list\": [\n    true,\n    null,\n    {},\n"
            "    []\n  ], \"nan\": null}");
  EXPECT_EQ(Write(JsonWriter::Layout::Indented, false),
            "{\n  \"name\": \"a\\\"b\",\n  \"n\": 3,\n  \"x\": 0.5,\n  \"f\": 0.1,\n  \"list\": [\n    true,\n"
            "    null,\n    {},\n    []\n  ],\n  \"nan\": null\n}");
}

}  // namespace
}  // namespace vez
