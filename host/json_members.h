// Readers for members of host JSON documents, with defaults. Neither throws for a missing key, a member of
// another type or a document that is not an object.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

// True, with a copy of the member in out, only when json is an object holding key and that member is an
// object; otherwise false and out is left as it was.
bool ReadObjectMember(const nlohmann::json& json, const std::string& key, nlohmann::json& out);

// The member's text when json is an object holding key and the member is a string; otherwise defaultValue.
std::string ReadStringMember(const nlohmann::json& json, const std::string& key,
                             const std::string& defaultValue);

// Deepest nesting of objects and arrays accepted from outside. Copying or serialising a JSON value recurses
// once per level, so a document nested millions deep (a host message may be 32 MB) would overflow the stack;
// real host messages stay below ten levels.
constexpr int kMaxJsonNesting = 100;

// True when no object or array in text is nested deeper than maxDepth. Brackets inside strings do not count.
// Text that is not JSON may pass; the parser rejects it afterwards.
bool JsonNestingWithin(const std::string& text, int maxDepth);
