// The keys that show the device's picture ("keyPicture"): which visible keys want pictures of which device,
// at what rate, and what each was last sent. From the latest key frame of a device it draws each due key's
// image - the live picture fitted to the key, or the key's own layout with the latest crop seen of each
// input - encodes it as PNG and sends it only when it differs from what that key was last sent; while the host
// is not reading, pictures are skipped. Event-loop thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/device_state.h"
#include "plugin/action_settings.h"
#include "plugin/host_port.h"
#include "plugin/key_frame.h"
#include "plugin/layout_names.h"
#include "plugin/state_image.h"

class PictureKeys {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Mode { kNone, kLive, kInputs };

  // "keyPicture" and "pictureRate" of a settings object: "live" or "inputs" (anything else: none); the rate
  // 1..10 (out of range clamps, another type or none: 2).
  static Mode ReadMode(const nlohmann::json& settings);
  static int32_t ReadRate(const nlohmann::json& settings);

  explicit PictureKeys(HostPort& host) : m_host(host) {}

  // A key's settings after an event (`raw`: the "settings" object as it came, `read`: completed, `named`:
  // the device its settings name, -1 none). `appeared`: it became visible; settings of a key that is not
  // visible are not kept.
  void Settings(const std::string& context, const nlohmann::json& raw, const ActionSettings& read, int32_t named,
                bool appeared);
  void Gone(const std::string& context);

  // Whether the key's image is a picture now (Keys leaves its image alone then).
  bool Pictured(const std::string& context) const;
  // The devices whose capture the visible picture keys want.
  std::set<int32_t> WantedDevices() const;

  // Devices whose picture keys need what the device shows read again ("inputs" keys that got settings).
  std::set<int32_t> TakeStale();
  bool WantsShows(int32_t device) const;
  // What `device` shows (from the plug-in's read-back), for the crops of "inputs" keys; known false: unknown.
  void Shows(int32_t device, bool known, const DeviceState& state);
  // A frame of the device came; the next Flush draws the keys that are due.
  void Frame(KeyFrame frame);

  // What the picture keys of a drawn key mark over the picture: its drawn state, false when it draws none.
  using Marks = std::function<bool(const std::string& context, StateImage& out)>;
  // Sends what changed: "not connected" to keys whose device is away, the default image back to keys that stopped
  // showing a picture (unless Keys draws them), and to each due key of a device with a new frame its picture.
  // `signals` are the signal locks of every device (entry d: device d, bit k: input k+1), `unsentBytes` what
  // the host connection holds unsent now.
  void Flush(Clock::time_point now, const std::function<bool(int32_t)>& present, const Marks& marks,
             const LayoutNames& names, const StateImageTexts& texts,
             const std::vector<std::vector<bool>>& signals, size_t unsentBytes);

  // Age after which a crop is dimmed and marked with its age.
  static constexpr std::chrono::seconds kStaleAge{10};

 private:
  struct Key {
    Mode mode = Mode::kNone;
    int32_t device = -1;
    int32_t rate = 2;
    bool hasEntry = false;
    uint32_t layout = 100;
    std::vector<int32_t> sources;
    bool drawnByKeys = false;  // showState without an icon: Keys draws it when no picture
    Clock::time_point due{};
    std::string sent;
    bool sentAny = false;
    bool restore = false;  // stopped showing a picture: its default image back
    std::vector<uint8_t> canvas;  // what was last encoded for it
  };
  struct Crop {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
    Clock::time_point seen{};
  };
  struct Device {
    bool known = false;
    DeviceState shows;
    Clock::time_point changed{};  // when what it shows was last seen to change
    KeyFrame frame;
    bool fresh = false;
    std::map<int32_t, Crop> crops;  // by input number
  };

  void KeepCrops(Device& device, const LayoutNames& names);
  void DrawLive(const Device& device, std::vector<uint8_t>& canvas) const;
  void DrawInputs(const Key& key, const Device& device, const LayoutNames& names, Clock::time_point now,
                  const std::vector<bool>* signal, std::vector<uint8_t>& canvas) const;
  // A crop scaled into the place at x, y of w x h pixels of the canvas; dimmed and marked with its age when old.
  static void DrawCrop(const Crop& crop, int32_t x, int32_t y, int32_t w, int32_t h, Clock::time_point now,
                       std::vector<uint8_t>& canvas);
  void Send(const std::string& context, Key& key, std::string image, size_t unsentBytes);

  HostPort& m_host;
  std::map<std::string, Key> m_keys;
  std::map<int32_t, Device> m_devices;
  std::set<int32_t> m_stale;
};
