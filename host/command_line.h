// The plug-in's command line: four name/value pairs from the host, and the language from the "-info" block.
#pragma once

#include <cstdint>
#include <string>

struct CommandLine {
  int32_t port = 0;
  std::string pluginUUID;
  std::string registerEvent;
  std::string info;
};

// Reads exactly eight arguments after the program name as four pairs, in any order; unknown names are
// skipped and a repeated name keeps its last value. False (exit code 1) for another argument count, a port
// of 0 or a missing or empty value; out then holds what was read.
bool ParseCommandLine(int argc, const char* const argv[], CommandLine& out);

// Converts as atoi does (leading white space, optional sign, decimal digits up to the first other character,
// 0 without digits), except that a value beyond the 32-bit range saturates to INT32_MIN or INT32_MAX where
// atoi's result would be undefined.
int32_t ConvertPortValue(const char* text);

// "application" → "language" from the host's information block; "en" when the text is not JSON or the
// member is missing or not a string. Never throws.
std::string ReadLanguage(const std::string& info);
