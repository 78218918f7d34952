// Drawing the state image of a key.
#include "plugin/state_image.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Text from the bundle's files reaches the document only escaped.
std::string XmlEscaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// At most `limit` UTF-8 characters, an ellipsis marking a cut; a key has room for little more.
std::string Shortened(const std::string& text, size_t limit, bool trimSpace = false) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // continuation byte
    if (characters == limit) {
      // A name cut after a word ends the word with the ellipsis.
      const size_t end = trimSpace ? text.find_last_not_of(' ', i - 1) : i - 1;
      return text.substr(0, end == std::string::npos ? 0 : end + 1) + "\xE2\x80\xA6";
    }
    ++characters;
  }
  return text;
}

// The four equal places of a layout the bundle does not describe.
const std::vector<PlaceRect>& FourPlaces() {
  static const std::vector<PlaceRect> kFour = {
      {0, 0, 0.5, 0.5}, {0.5, 0, 0.5, 0.5}, {0, 0.5, 0.5, 0.5}, {0.5, 0.5, 0.5, 0.5}};
  return kFour;
}

// A place's rectangle on the key: the picture spans 132 x 104 from (8, 8), with 4 between places.
void AppendPlace(std::string& svg, const PlaceRect& rect, const std::string& number, const std::string& name,
                 bool signal, bool known) {
  char buffer[512];
  const int x = 8 + static_cast<int>(std::lround(rect.x * 132));
  const int y = 8 + static_cast<int>(std::lround(rect.y * 104));
  const int w = std::max(4, static_cast<int>(std::lround(rect.width * 132)) - 4);
  const int h = std::max(4, static_cast<int>(std::lround(rect.height * 104)) - 4);
  const char* fill = !known ? "#3a3f45" : signal ? "#2b4a6b" : "#4a2323";
  std::snprintf(buffer, sizeof buffer,
                "<g class=\"place%s\"><rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" rx=\"4\" fill=\"%s\"/>",
                known && !signal ? " no-signal" : "", x, y, w, h, fill);
  svg += buffer;
  if (known && !signal) {
    // A struck-through place: the input is there but shows nothing.
    std::snprintf(buffer, sizeof buffer,
                  "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#ff5252\" stroke-width=\"4\"/>", x + 6,
                  y + h - 6, x + w - 6, y + 6);
    svg += buffer;
  }
  // A number fills its place; a name is smaller and cut to what its place holds.
  int font = std::min(28, static_cast<int>(h * 0.6));
  std::string label = number;
  if (!name.empty()) {
    font = std::min(14, font);
    label = Shortened(name, static_cast<size_t>(std::max(1, static_cast<int>((w - 4) / (font * 0.55)))), true);
  }
  std::snprintf(buffer, sizeof buffer,
                "<text x=\"%d\" y=\"%d\" font-size=\"%d\" text-anchor=\"middle\" fill=\"%s\">", x + w / 2,
                y + h / 2 + static_cast<int>(std::lround(font * 0.36)), font, known && !signal ? "#ffb0b0" : "#ffffff");
  svg += buffer;
  svg += XmlEscaped(label) + "</text></g>";
}

// A padlock of the given width at (x, y), shut or open.
std::string Padlock(int x, int y, int size, bool shut, const char* colour) {
  char buffer[512];
  const int body = size * 3 / 4;
  const int r = size / 3;
  const int cx = x + size / 2;
  std::snprintf(buffer, sizeof buffer,
                "<path d=\"M%d %dv-%da%d %d 0 0 1 %d 0%s\" fill=\"none\" stroke=\"%s\" stroke-width=\"%d\"/>"
                "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" rx=\"2\" fill=\"%s\"/>",
                cx - r, y + size / 2, r / 2, r, r, 2 * r, shut ? (std::string("v") + std::to_string(r / 2)).c_str() : "",
                colour, std::max(2, size / 8), x, y + size / 2, size, body, colour);
  return buffer;
}

std::string WithInputs(const std::string& text, const std::string& inputs) {
  const size_t at = text.find("{inputs}");
  return at == std::string::npos ? text : text.substr(0, at) + inputs + text.substr(at + 8);
}

// What the picture shows, in words: the drawing alone says nothing to a screen reader.
std::string Description(const StateImage& image, const StateImageTexts& texts) {
  if (!image.connected) return texts.notConnected;
  if (!image.known) return texts.unknown;
  std::string shown, dark;
  const size_t count = std::min<size_t>(image.places.empty() ? 4 : image.places.size(), image.inputs.size());
  for (size_t place = 0; place < count; ++place) {
    std::string input = std::to_string(image.inputs[place]);
    if (!image.names[place].empty()) input += " " + image.names[place];
    shown += (place == 0 ? "" : ", ") + input;
    bool listed = false;
    for (size_t before = 0; before < place; ++before) {
      listed = listed || (!image.signal[before] && image.inputs[before] == image.inputs[place]);
    }
    if (!image.signal[place] && !listed) dark += (dark.empty() ? "" : ", ") + input;
  }
  std::string text = image.layoutName + "; " + WithInputs(texts.inputs, shown);
  if (!dark.empty()) text += "; " + WithInputs(texts.noSignal, dark);
  if (image.live) text += "; " + texts.live;
  if (image.locked) text += "; " + texts.locked;
  return text;
}

}  // namespace

std::string StateImageSvg(const StateImage& image, const std::string& notConnected) {
  StateImageTexts texts;
  texts.notConnected = notConnected;
  return StateImageSvg(image, texts);
}

std::string StateImageSvg(const StateImage& image, const StateImageTexts& texts) {
  const std::string& notConnected = texts.notConnected;
  std::string svg =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"144\" height=\"144\" viewBox=\"0 0 144 144\" class=\"state";
  const std::string title = "<title>" + XmlEscaped(Description(image, texts)) + "</title>";
  if (!image.connected) {
    // Unlike a state that could not be read, nothing of the last picture stays: the device is away.
    svg += " absent\" role=\"img\" font-family=\"sans-serif\" font-weight=\"bold\">" + title +
           "<rect width=\"144\" height=\"144\" "
           "fill=\"#101418\"/><rect x=\"40\" y=\"30\" width=\"64\" height=\"48\" rx=\"6\" fill=\"none\" "
           "stroke=\"#8a939c\" stroke-width=\"4\"/><line x1=\"34\" y1=\"88\" x2=\"110\" y2=\"20\" "
           "stroke=\"#ff5252\" stroke-width=\"6\"/><text class=\"absent\" x=\"72\" y=\"118\" font-size=\"15\" "
           "text-anchor=\"middle\" fill=\"#d8dee6\">";
    svg += XmlEscaped(Shortened(notConnected, 16));
    svg += "</text></svg>";
    return svg;
  }
  svg += image.known ? "\"" : " unknown\"";
  svg += " role=\"img\" font-family=\"sans-serif\" font-weight=\"bold\">" + title +
         "<rect width=\"144\" height=\"144\" fill=\"#101418\"/>";
  const std::vector<PlaceRect>& places = image.known && !image.places.empty() ? image.places : FourPlaces();
  for (size_t place = 0; place < places.size() && place < image.inputs.size(); ++place) {
    const std::string number = image.known ? std::to_string(image.inputs[place]) : "?";
    AppendPlace(svg, places[place], number, image.known ? image.names[place] : std::string(), image.signal[place],
                image.known);
  }
  svg += "<text class=\"layout\" x=\"72\" y=\"132\" font-size=\"15\" text-anchor=\"middle\" fill=\"#d8dee6\">";
  svg += image.known ? XmlEscaped(Shortened(image.layoutName, 16)) : "?";
  svg += "</text>";
  if (image.known && image.live) {
    svg += "<rect class=\"live\" x=\"2\" y=\"2\" width=\"140\" height=\"140\" rx=\"8\" fill=\"none\" "
           "stroke=\"#e53935\" stroke-width=\"4\"/>";
  }
  if (image.known && !image.step.empty()) {
    svg += "<g class=\"step\"><rect x=\"96\" y=\"2\" width=\"46\" height=\"20\" rx=\"4\" fill=\"#000000\" "
           "fill-opacity=\"0.75\"/><text x=\"119\" y=\"17\" font-size=\"14\" text-anchor=\"middle\" "
           "fill=\"#ffd54f\">" + XmlEscaped(image.step) + "</text></g>";
  }
  if (image.locked) {
    svg += "<g class=\"lock\"><rect x=\"2\" y=\"2\" width=\"24\" height=\"26\" rx=\"4\" fill=\"#000000\" "
           "fill-opacity=\"0.75\"/>" + Padlock(6, 4, 16, true, "#ffd54f") + "</g>";
  }
  svg += "</svg>";
  return svg;
}

std::string LockImageSvg(bool locked, const StateImageTexts& texts) {
  const std::string& text = locked ? texts.locked : texts.unlocked;
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"144\" height=\"144\" viewBox=\"0 0 144 144\" "
                    "class=\"lock ";
  svg += locked ? "locked" : "unlocked";
  svg += "\" role=\"img\" font-family=\"sans-serif\" font-weight=\"bold\"><title>" + XmlEscaped(text) +
         "</title><rect width=\"144\" height=\"144\" fill=\"#101418\"/>";
  svg += Padlock(44, 14, 56, locked, locked ? "#ffd54f" : "#8a939c");
  svg += "<text class=\"lock-state\" x=\"72\" y=\"128\" font-size=\"17\" text-anchor=\"middle\" fill=\"#d8dee6\">" +
         XmlEscaped(Shortened(text, 14)) + "</text></svg>";
  return svg;
}

std::string SvgDataUrl(const std::string& svg) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out = "data:image/svg+xml;base64,";
  out.reserve(out.size() + (svg.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < svg.size(); i += 3) {
    const uint32_t v = static_cast<uint8_t>(svg[i]) << 16 | static_cast<uint8_t>(svg[i + 1]) << 8 |
                       static_cast<uint8_t>(svg[i + 2]);
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += kDigits[(v >> 6) & 63];
    out += kDigits[v & 63];
  }
  if (i < svg.size()) {
    const bool two = i + 1 < svg.size();
    const uint32_t v = static_cast<uint8_t>(svg[i]) << 16 | (two ? static_cast<uint8_t>(svg[i + 1]) << 8 : 0);
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += two ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}
