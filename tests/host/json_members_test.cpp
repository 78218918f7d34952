// The JSON member readers and the nesting check.
#include "host/json_members.h"

#include <gtest/gtest.h>

namespace {

TEST(JsonMembers, ReadOnlyMembersOfTheRightType) {
  const nlohmann::json doc = {{"obj", {{"a", 1}}}, {"str", "text"}, {"num", 3}, {"arr", {1}}, {"nul", nullptr},
                              {"empty", nlohmann::json::object()}};
  const nlohmann::json notObjects[] = {nlohmann::json::array({doc}), "obj", 1, nullptr};

  const struct {
    const char* key;
    bool isObject;
    const char* text;  // nullptr: not a string
  } cases[] = {
      {"obj", true, nullptr}, {"str", false, "text"}, {"num", false, nullptr},  {"arr", false, nullptr},
      {"nul", false, nullptr}, {"empty", true, nullptr}, {"missing", false, nullptr}, {"OBJ", false, nullptr},
  };
  for (const auto& c : cases) {
    nlohmann::json out = "untouched";
    EXPECT_EQ(ReadObjectMember(doc, c.key, out), c.isObject) << c.key;
    EXPECT_EQ(out, c.isObject ? doc[c.key] : nlohmann::json("untouched")) << c.key;
    EXPECT_EQ(ReadStringMember(doc, c.key, "dflt"), c.text ? c.text : "dflt") << c.key;
    for (const nlohmann::json& other : notObjects) {
      nlohmann::json kept = 5;
      EXPECT_FALSE(ReadObjectMember(other, c.key, kept));
      EXPECT_EQ(kept, 5);
      EXPECT_EQ(ReadStringMember(other, c.key, "dflt"), "dflt");
    }
  }
}

TEST(JsonMembers, NestingCountsBracketsOutsideStrings) {
  const struct {
    std::string text;
    int max;
    bool within;
  } cases[] = {
      {"[[1]]", 2, true},
      {"[[1]]", 1, false},
      {"{\"a\":{\"b\":[]}}", 3, true},
      {"{\"a\":{\"b\":[]}}", 2, false},
      {"[1],[2],[3]", 1, true},
      {R"(["[[[[", "\"[[[["])", 1, true},
      {R"(["\\", [[]]])", 2, false},
      {"not json {{{", 2, false},
      {"", 0, true},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonNestingWithin(c.text, c.max), c.within) << c.text;
}

}  // namespace
