// Drawing the state image of a key.
#include "plugin/state_image.h"

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
std::string Shortened(const std::string& text, size_t limit) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;  // continuation byte
    if (characters == limit) return text.substr(0, i) + "\xE2\x80\xA6";
    ++characters;
  }
  return text;
}

void AppendPlace(std::string& svg, int place, const char* label, bool signal, bool known) {
  char buffer[512];
  const int x = 8 + (place % 2) * 66;
  const int y = 8 + (place / 2) * 52;
  const char* fill = !known ? "#3a3f45" : signal ? "#2b4a6b" : "#4a2323";
  std::snprintf(buffer, sizeof buffer,
                "<g class=\"place%s\"><rect x=\"%d\" y=\"%d\" width=\"62\" height=\"48\" rx=\"4\" fill=\"%s\"/>",
                known && !signal ? " no-signal" : "", x, y, fill);
  svg += buffer;
  if (known && !signal) {
    // A struck-through place: the input is there but shows nothing.
    std::snprintf(buffer, sizeof buffer,
                  "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#ff5252\" stroke-width=\"4\"/>", x + 6,
                  y + 42, x + 56, y + 6);
    svg += buffer;
  }
  std::snprintf(buffer, sizeof buffer,
                "<text x=\"%d\" y=\"%d\" font-size=\"28\" text-anchor=\"middle\" fill=\"%s\">%s</text></g>",
                x + 31, y + 34, known && !signal ? "#ffb0b0" : "#ffffff", label);
  svg += buffer;
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
  for (size_t place = 0; place < image.inputs.size(); ++place) {
    const std::string input = std::to_string(image.inputs[place]);
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
  for (int place = 0; place < 4; ++place) {
    char label[16] = "?";
    if (image.known) std::snprintf(label, sizeof label, "%d", static_cast<int>(image.inputs[place]));
    AppendPlace(svg, place, label, image.signal[place], image.known);
  }
  svg += "<text class=\"layout\" x=\"72\" y=\"132\" font-size=\"15\" text-anchor=\"middle\" fill=\"#d8dee6\">";
  svg += image.known ? XmlEscaped(Shortened(image.layoutName, 16)) : "?";
  svg += "</text>";
  if (image.known && image.live) {
    svg += "<rect class=\"live\" x=\"2\" y=\"2\" width=\"140\" height=\"140\" rx=\"8\" fill=\"none\" "
           "stroke=\"#e53935\" stroke-width=\"4\"/>";
  }
  svg += "</svg>";
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
