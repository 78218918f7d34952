// What the property inspectors want, per key: whether its inspector is open (and when it appeared), whether
// it asked for the images (and their size) or said stop, whether it asked for the device status and what it
// was told since, and which device its edit is on. Where the images go, which device the graph shows, and who
// hears of device and signal changes all follow from it. Bookkeeping only: the plug-in carries it out.
// Event-loop thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "plugin/device_port.h"

class Inspectors {
 public:
  // An inspector that is open and asked for the device status.
  struct Asker {
    std::string action;
    std::string context;
  };

  void Appeared(const std::string& action, const std::string& context);
  // The key's inspector closed: what it asked for goes with it. editDevice is the device its edit was on
  // (-1: none); false when it was not open.
  bool Disappeared(const std::string& context, int32_t& editDevice);
  // The key went away: images it asked for end (they come again when it asks again).
  void KeyGone(const std::string& context);

  // Requests from a key's page; one that comes before the inspector's "propertyInspectorDidAppear" is kept
  // and honoured once it appears.
  void AskedForImages(const std::string& action, const std::string& context, int32_t width, int32_t height);
  void SaidStop(const std::string& context);
  void AskedForStatus(const std::string& action, const std::string& context);

  bool Open(const std::string& context) const;
  bool AnyOpen() const;
  bool AnyAsker() const;

  // The key's edit is on `device` now. Answers the devices whose edit is to be taken back: the one this key's
  // edit was on, and the one an edit last came to (an edit moves from device to device), each unless it is
  // `device` or another open inspector's edit is on it.
  std::vector<int32_t> EditOn(const std::string& context, int32_t device);
  // Whether an open inspector other than `context`'s has its edit on `device`.
  bool EditElsewhere(const std::string& context, int32_t device) const;
  // The device an inspector's edit last came to; -1 before the first edit. It stays when inspectors close,
  // so that a later edit of the same device does not read it again.
  int32_t LastEdited() const { return m_lastEdited; }

  // Where the images go and what the graph shows: the inspector that appeared last among the open ones,
  // unless it said stop after its last request; with no request of its own it takes the images another open
  // inspector asked for. `deviceOf` names the device a key's settings name (-1: not known), `present` tells
  // whether a device is detected.
  PreviewPlan Preview(const std::function<int32_t(const std::string&)>& deviceOf,
                      const std::function<bool(int32_t)>& present) const;

  // The open inspectors that asked for the device status.
  std::vector<Asker> Askers() const;
  // What an asker was last told: the detected devices' names, and per device number its signal locks (an empty
  // list: not told yet). Reset when it asks again.
  std::vector<std::string>& ToldDevices(const std::string& context) { return At(context).toldDevices; }
  std::vector<std::vector<bool>>& ToldSignals(const std::string& context) { return At(context).toldSignals; }
  // The names of the locked devices an asker was last told (none at first).
  std::vector<std::string>& ToldLocks(const std::string& context) { return At(context).toldLocks; }

 private:
  enum class Images { kNone, kWanted, kStopped };
  struct Entry {
    std::string action;
    bool open = false;
    uint64_t appeared = 0;  // order of appearance among the open ones
    Images images = Images::kNone;
    int32_t width = 0;
    int32_t height = 0;
    bool status = false;
    std::vector<std::string> toldDevices;
    std::vector<std::vector<bool>> toldSignals;
    std::vector<std::string> toldLocks;
    int32_t editDevice = -1;
    uint64_t asked = 0;  // order of the last request, kept or open
  };

  Entry& At(const std::string& context);
  // Entries of keys whose inspector is not open hold only requests made ahead of it: the oldest go beyond a
  // few, so that pages that never open (or hosts that never say so) cost nothing lasting.
  void Trim();

  std::map<std::string, Entry> m_entries;
  uint64_t m_clock = 0;
  int32_t m_lastEdited = -1;
};
