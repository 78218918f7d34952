// The plug-in's command line and the language from the host's information block.
#include "host/command_line.h"

#include <cstring>
#include <limits>

#include <nlohmann/json.hpp>

#include "host/json_members.h"

int32_t ConvertPortValue(const char* text) {
  const char* p = text;
  // The C locale's white space, as atoi skips it.
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // Accumulate the magnitude in 64 bits and stop growing once it is past the 32-bit range.
  const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                 : std::numeric_limits<int32_t>::max();
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (magnitude <= limit) magnitude = magnitude * 10 + (*p - '0');
  }
  if (magnitude > limit) magnitude = limit;
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

bool ParseCommandLine(int argc, const char* const argv[], CommandLine& out) {
  if (argc != 9) return false;
  for (int k = 0; k < 4; ++k) {
    const char* name = argv[1 + 2 * k];
    const char* value = argv[2 + 2 * k];
    if (std::strcmp(name, "-port") == 0) {
      out.port = ConvertPortValue(value);
    } else if (std::strcmp(name, "-pluginUUID") == 0) {
      out.pluginUUID = value;
    } else if (std::strcmp(name, "-registerEvent") == 0) {
      out.registerEvent = value;
    } else if (std::strcmp(name, "-info") == 0) {
      out.info = value;
    }
  }
  return out.port != 0 && !out.pluginUUID.empty() && !out.registerEvent.empty() && !out.info.empty();
}

std::string ReadLanguage(const std::string& info) {
  std::string language = "en";
  // One of the edges where bad host input is swallowed: start-up goes on in English.
  try {
    if (!JsonNestingWithin(info, kMaxJsonNesting)) return language;
    const nlohmann::json parsed = nlohmann::json::parse(info);
    nlohmann::json application;
    if (ReadObjectMember(parsed, "application", application)) {
      language = ReadStringMember(application, "language", "en");
    }
  } catch (...) {
  }
  return language;
}
