// The development host's scenario: a JSON array of steps, read and checked whole before a run starts, so
// that a typo does not show up halfway through a run.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

// Reads the scenario at path ("" = none: no steps) into steps, an array of which every element is one of the
// known steps: {"send": ANY}, {"sendText": STRING}, {"sendBinary": STRING}, {"wait": MS},
// {"waitFor": EVENT[, "timeout": MS]} or {"comment": STRING}, MS an unsigned integer. False with error set
// (naming the file, and the first wrong step by its number from 1) when it cannot be read or checked.
bool LoadScenario(const std::string& path, nlohmann::json& steps, std::string& error);
