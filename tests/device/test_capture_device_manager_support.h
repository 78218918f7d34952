// Test helpers for the device manager's tests: configurations of the emulated device, its recorded requests,
// live COM objects and a few filter queries.
#pragma once

#include <string>
#include <vector>

#include "platform/dshow.h"

// Makes the emulated device enumerate the given configuration (PNX_SIM_DEVICES format) from now on, with
// its device states as configured and its events going to the recorder's file. False for invalid text.
bool UseDevices(const std::string& json);
// COM objects alive in the process right now.
long LiveComObjects();
// The name a filter was given when it joined its graph, in ASCII ("" without one).
std::string FilterName(IBaseFilter* filter);
// The graph a filter belongs to (not counted; null without one).
IFilterGraph* FilterGraph(IBaseFilter* filter);

// Reads what the emulated device recorded in its trace file after this recorder was made.
class TraceRecorder {
 public:
  TraceRecorder();
  // Every raw line.
  std::vector<std::string> Lines() const;
  // Property requests as "op id data hr" ("set 632 2143000000000000 0").
  std::vector<std::string> Requests() const;
  // Applied formats as "SUBTYPE WxH".
  std::vector<std::string> Formats() const;
  // Whether the named node reported the filter state.
  bool HasState(const std::string& node, const std::string& state) const;

 private:
  long long start_ = 0;
};
