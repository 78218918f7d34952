// The picture keys: their settings, the crops of each device's inputs, and the drawing, encoding and sending
// of their images.
#include "plugin/picture_keys.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "device/image_scaler.h"
#include "platform/vendor_properties.h"
#include "plugin/png_image.h"

namespace {

constexpr int32_t kSide = kKeyPictureSide;
constexpr int32_t kMaxRate = 10;
constexpr int32_t kDefaultRate = 2;
// While the connection holds more than this many picture messages unsent, pictures are skipped.
constexpr size_t kUnsentPictureLimit = 2;

struct Rect {
  int32_t x = 0;
  int32_t y = 0;
  int32_t w = 0;
  int32_t h = 0;
};

struct Bgr {
  uint8_t b, g, r;
};
const Bgr kLiveColour{0x35, 0x39, 0xe5};  // the state drawing's live frame
const Bgr kNoSignalColour{0x35, 0x39, 0xe5};
const Bgr kInk{0xff, 0xff, 0xff};
const Bgr kUnseen{0x40, 0x40, 0x40};

// Digits 3 x 5, one row of three bits each, top row first.
const uint16_t kDigits[10] = {075557, 022222, 071747, 071717, 055711, 074717, 074757, 071111, 075757, 075717};

void Fill(std::vector<uint8_t>& canvas, Rect r, Bgr c) {
  const int32_t x0 = std::max(0, r.x), x1 = std::min(kSide, r.x + r.w);
  const int32_t y0 = std::max(0, r.y), y1 = std::min(kSide, r.y + r.h);
  for (int32_t y = y0; y < y1; ++y) {
    uint8_t* p = canvas.data() + (static_cast<size_t>(y) * kSide + static_cast<size_t>(x0)) * 3;
    for (int32_t x = x0; x < x1; ++x, p += 3) {
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
    }
  }
}

// A number in the digit font, each font pixel `scale` pixels, centred in r.
void DrawNumber(std::vector<uint8_t>& canvas, Rect r, uint32_t value, int32_t scale, Bgr c, const char* suffix = "") {
  std::string text = std::to_string(value) + suffix;
  const int32_t width = static_cast<int32_t>(text.size()) * 4 * scale - scale;
  int32_t x = r.x + (r.w - width) / 2;
  const int32_t y = r.y + (r.h - 5 * scale) / 2;
  for (char ch : text) {
    if (ch >= '0' && ch <= '9') {
      const uint16_t bits = kDigits[ch - '0'];
      for (int32_t row = 0; row < 5; ++row) {
        for (int32_t col = 0; col < 3; ++col) {
          if (bits >> ((4 - row) * 3 + (2 - col)) & 1) Fill(canvas, {x + col * scale, y + row * scale, scale, scale}, c);
        }
      }
    } else {
      // 's': a short bar at the foot, enough to tell an age from an input number.
      Fill(canvas, {x, y + 4 * scale, 3 * scale, scale}, c);
    }
    x += 4 * scale;
  }
}

void FrameRect(std::vector<uint8_t>& canvas, Rect r, int32_t thickness, Bgr c) {
  Fill(canvas, {r.x, r.y, r.w, thickness}, c);
  Fill(canvas, {r.x, r.y + r.h - thickness, r.w, thickness}, c);
  Fill(canvas, {r.x, r.y, thickness, r.h}, c);
  Fill(canvas, {r.x + r.w - thickness, r.y, thickness, r.h}, c);
}

// The no-signal stroke: a diagonal across the place, top left to bottom right.
void Stroke(std::vector<uint8_t>& canvas, Rect r, Bgr c) {
  const int32_t steps = std::max(r.w, r.h);
  for (int32_t i = 0; i < steps; ++i) {
    const int32_t x = r.x + static_cast<int32_t>(int64_t{i} * r.w / steps);
    const int32_t y = r.y + static_cast<int32_t>(int64_t{i} * r.h / steps);
    Fill(canvas, {x - 1, y - 1, 3, 3}, c);
  }
}

// The picture's area on the key: the frame fitted into the square, centred.
Rect PictureArea(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0 || width > kSide || height > kSide) {
    width = kSide;
    height = kSide * 9 / 16;
  }
  return {(kSide - width) / 2, (kSide - height) / 2, width, height};
}

// The places of `layout` within area: as layouts.json has them, or four equal places for a layout it does not
// know.
std::vector<Rect> PlacesIn(const LayoutNames& names, uint32_t layout, Rect area) {
  std::vector<PlaceRect> places = names.Places(layout);
  if (places.empty()) places = {{0, 0, 0.5, 0.5}, {0.5, 0, 0.5, 0.5}, {0, 0.5, 0.5, 0.5}, {0.5, 0.5, 0.5, 0.5}};
  std::vector<Rect> out;
  for (const PlaceRect& p : places) {
    const int32_t x0 = area.x + static_cast<int32_t>(p.x * area.w + 0.5);
    const int32_t y0 = area.y + static_cast<int32_t>(p.y * area.h + 0.5);
    const int32_t x1 = area.x + static_cast<int32_t>((p.x + p.width) * area.w + 0.5);
    const int32_t y1 = area.y + static_cast<int32_t>((p.y + p.height) * area.h + 0.5);
    out.push_back({x0, y0, std::max(1, x1 - x0), std::max(1, y1 - y0)});
  }
  return out;
}

void MarkState(std::vector<uint8_t>& canvas, const StateImage& marks, const std::vector<Rect>& places, Rect area) {
  if (!marks.known) return;
  for (size_t i = 0; i < places.size() && i < marks.signal.size(); ++i) {
    if (!marks.signal[i]) Stroke(canvas, places[i], kNoSignalColour);
  }
  if (marks.live) FrameRect(canvas, area, 4, kLiveColour);
}

}  // namespace

PictureKeys::Mode PictureKeys::ReadMode(const nlohmann::json& settings) {
  if (!settings.is_object()) return Mode::kNone;
  auto it = settings.find("keyPicture");
  if (it == settings.end() || !it->is_string()) return Mode::kNone;
  if (*it == "live") return Mode::kLive;
  if (*it == "inputs") return Mode::kInputs;
  return Mode::kNone;
}

int32_t PictureKeys::ReadRate(const nlohmann::json& settings) {
  if (!settings.is_object()) return kDefaultRate;
  auto it = settings.find("pictureRate");
  if (it == settings.end()) return kDefaultRate;
  if (it->is_number_unsigned()) return static_cast<int32_t>(std::clamp<uint64_t>(it->get<uint64_t>(), 1, kMaxRate));
  if (it->is_number_integer()) return static_cast<int32_t>(std::clamp<int64_t>(it->get<int64_t>(), 1, kMaxRate));
  return kDefaultRate;
}

void PictureKeys::Settings(const std::string& context, const nlohmann::json& raw, const ActionSettings& read,
                           int32_t named, bool appeared) {
  auto it = m_keys.find(context);
  if (it == m_keys.end() && !appeared) return;
  Key& key = m_keys[context];
  const bool before = key.mode != Mode::kNone;
  key.mode = read.icon.empty() ? ReadMode(raw) : Mode::kNone;
  key.rate = ReadRate(raw);
  key.device = named;
  key.drawnByKeys = read.showState && read.icon.empty();
  key.hasEntry = false;
  const size_t slot = static_cast<size_t>(named);
  if (named >= 0 && slot < read.devices.size() && read.devices[slot].present) {
    key.hasEntry = true;
    key.layout = read.devices[slot].multiViewLayout;
    key.sources = read.devices[slot].multiViewSources;
  }
  // Keys may have sent it another image meanwhile (its icon, the default): the next picture goes out again.
  if (appeared || !before) key.sentAny = false;
  key.canvas.clear();
  key.due = Clock::time_point{};
  const bool now = key.mode != Mode::kNone;
  // A key that stops showing a picture gets its default back, unless Keys draws it or its icon comes.
  key.restore = before && !now && !key.drawnByKeys && read.icon.empty();
  if (key.mode == Mode::kInputs && named >= 0) m_stale.insert(named);
  // A visible key without a picture is kept all the same: an edit may give it one while it stays visible.
}

void PictureKeys::Gone(const std::string& context) {
  // The devices' crops stay (a few per input of at most MaxDevices devices): preset keys on another page of the
  // panel show them when they come back.
  m_keys.erase(context);
}

bool PictureKeys::Pictured(const std::string& context) const {
  auto it = m_keys.find(context);
  return it != m_keys.end() && it->second.mode != Mode::kNone;
}

std::set<int32_t> PictureKeys::WantedDevices() const {
  std::set<int32_t> devices;
  for (const auto& entry : m_keys) {
    if (entry.second.mode != Mode::kNone && entry.second.device >= 0) devices.insert(entry.second.device);
  }
  return devices;
}

bool PictureKeys::WantsShows(int32_t device) const { return device >= 0 && WantedDevices().count(device) > 0; }

std::set<int32_t> PictureKeys::TakeStale() {
  std::set<int32_t> stale;
  stale.swap(m_stale);
  return stale;
}

void PictureKeys::Shows(int32_t device, bool known, const DeviceState& state) {
  if (!WantsShows(device)) return;
  Device& d = m_devices[device];
  if (!known) {
    d.known = false;
    return;
  }
  if (!d.known || d.shows.layout != state.layout || d.shows.sources != state.sources) {
    d.changed = Clock::now();
    d.fresh = false;  // a frame from before the change shows the old places
  }
  d.known = true;
  d.shows = state;
}

void PictureKeys::Frame(KeyFrame frame) {
  if (frame.device < 0 || frame.width < 1 || frame.height < 1 || frame.width > kSide || frame.height > kSide ||
      frame.pixels.size() != static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height) * 3) {
    return;
  }
  const std::set<int32_t> wanted = WantedDevices();
  if (!wanted.count(frame.device)) return;
  Device& d = m_devices[frame.device];
  d.frame = std::move(frame);
  d.fresh = true;
}

void PictureKeys::KeepCrops(Device& device, const LayoutNames& names) {
  // A crop is taken only where the layout's places are known and the frame came after what it shows was read.
  if (!device.known || names.Places(device.shows.layout).empty() || device.frame.captured < device.changed) return;
  const KeyFrame& f = device.frame;
  const std::vector<Rect> places = PlacesIn(names, device.shows.layout, {0, 0, f.width, f.height});
  const std::array<int32_t, 4> inputs = vendor::UnpackSources(device.shows.sources);
  for (size_t i = 0; i < places.size() && i < inputs.size(); ++i) {
    const Rect r = places[i];
    if (inputs[i] < 1 || r.x + r.w > f.width || r.y + r.h > f.height) continue;
    Crop& crop = device.crops[inputs[i]];
    crop.width = r.w;
    crop.height = r.h;
    crop.pixels.resize(static_cast<size_t>(r.w) * static_cast<size_t>(r.h) * 3);
    for (int32_t y = 0; y < r.h; ++y) {
      std::memcpy(crop.pixels.data() + static_cast<size_t>(y) * r.w * 3,
                  f.pixels.data() + (static_cast<size_t>(r.y + y) * f.width + r.x) * 3, static_cast<size_t>(r.w) * 3);
    }
    crop.seen = f.captured;
  }
}

void PictureKeys::DrawLive(const Device& device, std::vector<uint8_t>& canvas) const {
  const KeyFrame& f = device.frame;
  const Rect area = PictureArea(f.width, f.height);
  for (int32_t y = 0; y < f.height; ++y) {
    std::memcpy(canvas.data() + (static_cast<size_t>(area.y + y) * kSide + area.x) * 3,
                f.pixels.data() + static_cast<size_t>(y) * f.width * 3, static_cast<size_t>(f.width) * 3);
  }
}

void PictureKeys::DrawInputs(const Key& key, const Device& device, const LayoutNames& names, Clock::time_point now,
                             const std::vector<bool>* signal, std::vector<uint8_t>& canvas) const {
  const Rect area = PictureArea(device.frame.width, device.frame.height);
  const std::vector<Rect> places = PlacesIn(names, key.layout, area);
  for (size_t i = 0; i < places.size() && i < 4; ++i) {
    const Rect r = places[i];
    const int32_t input = i < key.sources.size() ? key.sources[i] : 0;
    auto crop = device.crops.find(input);
    if (crop == device.crops.end()) {
      Fill(canvas, r, kUnseen);
      DrawNumber(canvas, r, static_cast<uint32_t>(std::max(0, input)), std::max(1, std::min(r.w, r.h) / 10), kInk);
    } else {
      DrawCrop(crop->second, r.x, r.y, r.w, r.h, now, canvas);
    }
    // An input without signal is struck through, as on the state keys.
    if (signal && input >= 1 && static_cast<size_t>(input) <= signal->size() && !(*signal)[input - 1]) {
      Stroke(canvas, r, kNoSignalColour);
    }
  }
}

void PictureKeys::DrawCrop(const Crop& c, int32_t x, int32_t y, int32_t w, int32_t h, Clock::time_point now,
                           std::vector<uint8_t>& canvas) {
  uint8_t* to = canvas.data() + (static_cast<size_t>(y) * kSide + x) * 3;
  if (ScaleImageBgr24(c.pixels.data(), c.width * 3, c.width, c.height, to, kSide * 3, w, h) <= 0) return;
  const auto age = std::chrono::duration_cast<std::chrono::seconds>(now - c.seen);
  if (age < kStaleAge) return;
  for (int32_t row = 0; row < h; ++row) {
    uint8_t* p = to + static_cast<size_t>(row) * kSide * 3;
    for (int32_t i = 0; i < w * 3; ++i) p[i] = static_cast<uint8_t>(p[i] / 3);
  }
  // Whole seconds up to ten minutes, then minutes: the mark stays short.
  const int64_t seconds = age.count();
  const bool minutes = seconds >= 600;
  DrawNumber(canvas, {x, y + h / 2, w, h / 2}, static_cast<uint32_t>(minutes ? seconds / 60 : seconds),
             std::max(1, std::min(w, h) / 16), kInk, minutes ? "m" : "s");
}

void PictureKeys::Send(const std::string& context, Key& key, std::string image, size_t unsentBytes) {
  if (key.sentAny && image == key.sent) return;
  // A host that does not read would otherwise have every picture queued for it.
  if (unsentBytes > kUnsentPictureLimit * (image.size() + context.size() + 64)) return;
  m_host.SetImage(image, context);
  key.sent = std::move(image);
  key.sentAny = true;
}

void PictureKeys::Flush(Clock::time_point now, const std::function<bool(int32_t)>& present, const Marks& marks,
                        const LayoutNames& names, const StateImageTexts& texts,
                        const std::vector<std::vector<bool>>& signals, size_t unsentBytes) {
  for (auto& entry : m_devices) {
    if (entry.second.fresh) KeepCrops(entry.second, names);
  }
  // Keys of one device that draw the same picture share its encoding.
  std::vector<std::pair<std::vector<uint8_t>, std::string>> encoded;
  std::vector<uint8_t> canvas;
  for (auto it = m_keys.begin(); it != m_keys.end();) {
    Key& key = it->second;
    const std::string& context = it->first;
    ++it;
    if (key.restore) {
      key.restore = false;
      m_host.SetImage("", context);
      continue;
    }
    if (key.mode == Mode::kNone) continue;
    if (key.device < 0 || !present(key.device)) {
      StateImage away;
      away.connected = false;
      key.canvas.clear();
      Send(context, key, SvgDataUrl(StateImageSvg(away, texts)), 0);
      continue;
    }
    auto device = m_devices.find(key.device);
    if (device == m_devices.end() || !device->second.fresh || now < key.due) continue;
    // On the rate's beat while frames keep up with it; a key that fell behind starts a new beat.
    const auto period = std::chrono::milliseconds(1000 / key.rate);
    key.due = now - key.due < period ? key.due + period : now + period;
    const Device& d = device->second;
    canvas.assign(static_cast<size_t>(kSide) * kSide * 3, 0);
    StateImage mark;
    const bool marked = marks && marks(context, mark);
    if (key.mode == Mode::kLive) {
      DrawLive(d, canvas);
      const Rect area = PictureArea(d.frame.width, d.frame.height);
      if (marked) MarkState(canvas, mark, d.known ? PlacesIn(names, d.shows.layout, area) : std::vector<Rect>{}, area);
    } else {
      const size_t slot = static_cast<size_t>(key.device);
      DrawInputs(key, d, names, now, slot < signals.size() ? &signals[slot] : nullptr, canvas);
      if (marked && mark.known && mark.live) FrameRect(canvas, PictureArea(d.frame.width, d.frame.height), 4, kLiveColour);
    }
    // An unchanged picture costs no encoding.
    if (key.sentAny && canvas == key.canvas) continue;
    auto same = std::find_if(encoded.begin(), encoded.end(), [&](const auto& e) { return e.first == canvas; });
    if (same == encoded.end()) {
      std::vector<uint8_t> png;
      if (!EncodePngBgr24(canvas.data(), kSide, kSide, png)) continue;
      encoded.push_back({canvas, PngDataUrl(png)});
      same = encoded.end() - 1;
    }
    Send(context, key, same->second, unsentBytes);
    if (key.sentAny && key.sent == same->second) key.canvas = canvas;
  }
  for (auto& entry : m_devices) entry.second.fresh = false;
}
