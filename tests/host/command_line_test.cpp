// The command line, the port conversion and the language from the information block.
#include "host/command_line.h"

#include <climits>
#include <cstdlib>

#include <gtest/gtest.h>

namespace {

struct CommandLineCase {
  const char* name;
  std::vector<std::string> args;  // after the program name
  bool accepted;
  int32_t port = 0;
  std::string uuid = "", event = "", info = "";
};

TEST(ParseCommandLine, AcceptsFourPairsInAnyOrderAndRejectsTheRest) {
  const std::string info = R"({"application":{"language":"de"}})";
  // The usual line with one value replaced.
  const auto usual = [&](const char* port, const char* uuid = "U", const char* infoText = nullptr) {
    return std::vector<std::string>{"-port", port, "-pluginUUID", uuid, "-registerEvent", "reg", "-info",
                                    infoText ? infoText : info};
  };
  const std::vector<CommandLineCase> cases = {
      {"usual order", usual("28196"), true, 28196, "U", "reg", info},
      {"reverse order", {"-info", info, "-registerEvent", "reg", "-pluginUUID", "U", "-port", "28196"},
       true, 28196, "U", "reg", info},
      {"seven arguments", {"-port", "28196", "-pluginUUID", "U", "-registerEvent", "reg", "-info"}, false},
      {"nine arguments", {"-port", "28196", "-pluginUUID", "U", "-registerEvent", "reg", "-info", info, "x"},
       false},
      {"unknown name instead of one", {"-port", "28196", "-pluginUUID", "U", "-registerevent", "reg", "-info", info},
       false},
      {"repeated name", {"-port", "1", "-pluginUUID", "U", "-port", "28196", "-info", info}, false},
      {"empty value", usual("28196", ""), false},
      {"port 0", usual("0"), false},
      {"trailing letters", usual("28196abc"), true, 28196, "U", "reg", info},
      {"values verbatim", {"-port", " +12", "-pluginUUID", " U ", "-registerEvent", "-port", "-info", "not json"},
       true, 12, " U ", "-port", "not json"},
  };
  for (const CommandLineCase& c : cases) {
    std::vector<const char*> argv = {"BrelvonMultiview"};
    for (const std::string& a : c.args) argv.push_back(a.c_str());
    CommandLine parsed;
    const bool accepted = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), parsed);
    EXPECT_EQ(accepted, c.accepted) << c.name;
    if (!c.accepted || !accepted) continue;
    EXPECT_EQ(parsed.port, c.port) << c.name;
    EXPECT_EQ(parsed.pluginUUID, c.uuid) << c.name;
    EXPECT_EQ(parsed.registerEvent, c.event) << c.name;
    EXPECT_EQ(parsed.info, c.info) << c.name;
  }
}

TEST(ConvertPortValue, AgreesWithAtoiInRangeAndSaturatesBeyond) {
  const char* inRange[] = {"0",  "28196", "  \t\n\v\f\r42", "+7",         "-5",          "12ab34",
                           "",   "- 5",   "65536",          "2147483647", "-2147483648", "0x10"};
  for (const char* text : inRange) EXPECT_EQ(ConvertPortValue(text), std::atoi(text)) << '"' << text << '"';

  const struct {
    const char* text;
    int32_t expected;
  } beyond[] = {
      {"2147483648", INT32_MAX}, {"-99999999999999999999999", INT32_MIN},
      {"4294995496", INT32_MAX},  // would wrap to a valid port
  };
  for (const auto& c : beyond) EXPECT_EQ(ConvertPortValue(c.text), c.expected) << c.text;
}

TEST(ReadLanguage, TakesApplicationLanguageOrEnglish) {
  const struct {
    const char* info;
    const char* language;
  } cases[] = {
      {R"({"application":{"language":"de","version":"6"}})", "de"},
      {R"({"application":{"language":""}})", ""},
      {"[]", "en"},
      {"not json", "en"},
      {R"({"application":{"language":7}})", "en"},
      {R"({"language":"de"})", "en"},
      {R"({"application":{"language":"de"}} trailing)", "en"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadLanguage(c.info), c.language) << c.info;

  std::string deep = R"({"application":{"language":"de","x":)";
  for (int i = 0; i < 100000; ++i) deep += "{\"a\":";
  deep += "1" + std::string(100000, '}') + "}}";
  EXPECT_EQ(ReadLanguage(deep), "en");
}

}  // namespace
