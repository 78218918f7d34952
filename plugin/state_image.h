// The key image of a key that shows its device's state: an SVG drawing of the layout's multiview places (four
// equal ones where the layout is not known), and of a lock key; the data URL that carries it in "setImage".
// Pure functions, any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/layout_names.h"

struct StateImage {
  bool connected = true;             // false: the device is not detected; nothing else is drawn
  bool known = false;                // false: the device's state could not be read; the rest is not drawn
  std::string layoutName;            // the layout's name, or its number as text
  std::array<int32_t, 4> inputs{};   // the input shown in each place, place 1 first
  std::array<bool, 4> signal{};      // whether that input carries a signal
  bool live = false;                 // the device shows exactly this key's layout and sources
  std::vector<PlaceRect> places;     // the layout's places (at most four); empty: four equal places
  std::array<std::string, 4> names{};  // the name of the input in each place; "" draws its number
  std::string step;                  // a step key's next step, as "2/3"; "" for none
  bool locked = false;               // the device is locked: a lock mark
};

// What the drawing says to a screen reader, in its <title>; "{inputs}" stands for a list of input numbers.
// The language files hold them as "device.notConnected", "state.unknown", "state.inputs", "state.noSignal"
// and "state.live".
struct StateImageTexts {
  std::string notConnected = "not connected";  // also the text an absent device's key shows
  std::string unknown = "state unknown";
  std::string inputs = "inputs shown: {inputs}";
  std::string noSignal = "no signal: {inputs}";
  std::string live = "live";
  std::string locked = "locked";  // "lock.locked": a lock key's text and the lock mark's
  std::string unlocked = "unlocked";  // "lock.unlocked"
};

// A square SVG document. Marks that tests and styles can find: the root's class is "state" (or
// "state unknown", or "state absent" for a device that is not connected), each place is a <g class="place">
// ("place no-signal" without a signal) holding its input number as text, the layout is <text class="layout">, and a live key has a <rect class="live">.
// Its <title> names what it shows: the layout, the input in each place, the inputs without signal and whether
// the key is live (or that the device is not connected, or its state unknown).
// notConnected is the text an absent device's key shows.
std::string StateImageSvg(const StateImage& image, const std::string& notConnected = "not connected");
std::string StateImageSvg(const StateImage& image, const StateImageTexts& texts);

// A lock key's drawing: a padlock, shut or open, and texts.locked or texts.unlocked. The root's class is
// "lock locked" or "lock unlocked".
std::string LockImageSvg(bool locked, const StateImageTexts& texts);

// "data:image/svg+xml;base64,..." - the form key images take in "setImage".
std::string SvgDataUrl(const std::string& svg);
