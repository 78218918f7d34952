// What a state key's drawing says to a screen reader, and that the marks the pages and tests read stay.
#include "plugin/state_image.h"

#include <regex>
#include <string>

#include <gtest/gtest.h>

namespace {

std::string TitleOf(const std::string& svg) {
  std::smatch found;
  return std::regex_search(svg, found, std::regex("<title>([^<]*)</title>")) ? found[1].str() : "(no title)";
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

StateImage Known(std::array<int32_t, 4> inputs, std::array<bool, 4> signal, bool live) {
  StateImage image;
  image.known = true;
  image.layoutName = "Four places (2×2)";
  image.inputs = inputs;
  image.signal = signal;
  image.live = live;
  return image;
}

TEST(StateImage, TheTitleSaysTheLayoutTheInputsTheDarkOnesAndLive) {
  StateImage unknown;
  StateImage absent;
  absent.connected = false;
  const struct {
    const char* name;
    StateImage image;
    std::string title;
  } cases[] = {
      {"all with signal, not live", Known({1, 2, 3, 4}, {true, true, true, true}, false),
       "Four places (2×2); inputs shown: 1, 2, 3, 4"},
      {"one dark, live", Known({1, 2, 3, 4}, {true, true, false, true}, true),
       "Four places (2×2); inputs shown: 1, 2, 3, 4; no signal: 3; live"},
      // An input in two places is named once among the dark ones.
      {"one dark input twice", Known({3, 3, 1, 2}, {false, false, true, false}, false),
       "Four places (2×2); inputs shown: 3, 3, 1, 2; no signal: 3, 2"},
      {"unknown", unknown, "state unknown"},
      {"absent", absent, "nicht verbunden"},
  };
  for (const auto& c : cases) {
    const std::string svg = StateImageSvg(c.image, "nicht verbunden");
    EXPECT_EQ(TitleOf(svg), c.title) << c.name;
    // The title is the drawing's first child, so that it names the whole image.
    EXPECT_NE(svg.find("role=\"img\" font-family=\"sans-serif\" font-weight=\"bold\"><title>"), std::string::npos)
        << c.name;
  }
}

TEST(StateImage, MarksThePagesAndTestsReadStayBesideTheTitle) {
  const std::string known = StateImageSvg(Known({1, 2, 3, 4}, {true, true, false, true}, true));
  EXPECT_EQ(Count(known, "class=\"state\""), 1u);
  EXPECT_EQ(Count(known, "<g class=\"place\">"), 3u);
  EXPECT_EQ(Count(known, "<g class=\"place no-signal\">"), 1u);
  EXPECT_EQ(Count(known, "<text class=\"layout\""), 1u);
  EXPECT_EQ(Count(known, "<rect class=\"live\""), 1u);
  EXPECT_NE(known.find(">3</text></g>"), std::string::npos);
  EXPECT_EQ(Count(StateImageSvg(StateImage()), "class=\"state unknown\""), 1u);
  StateImage absent;
  absent.connected = false;
  EXPECT_EQ(Count(StateImageSvg(absent), "class=\"state absent\""), 1u);
}

TEST(StateImage, TitleTextsComeFromTheLanguageAndStayText) {
  StateImage image = Known({2, 1, 4, 4}, {true, true, false, false}, true);
  image.layoutName = "<b>Vier & mehr</b>";
  StateImageTexts german;
  german.notConnected = "nicht verbunden";
  german.unknown = "Zustand unbekannt";
  german.inputs = "Eingänge: {inputs}";
  german.noSignal = "ohne Signal: {inputs}";
  german.live = "aktiv";
  EXPECT_EQ(TitleOf(StateImageSvg(image, german)),
            "&lt;b&gt;Vier &amp; mehr&lt;/b&gt;; Eingänge: 2, 1, 4, 4; ohne Signal: 4; aktiv");
  EXPECT_EQ(TitleOf(StateImageSvg(StateImage(), german)), "Zustand unbekannt");
}

TEST(StateImage, DrawsTheLayoutsPlacesWithTheInputsNamesAsText) {
  StateImage image = Known({3, 1, 2, 4}, {true, true, true, true}, false);
  image.names = {"<b>&", "Camera with a long name", "", ""};
  // The same four places as a layout the bundle does not know, byte for byte.
  StateImage quarters = Known({1, 2, 3, 4}, {true, true, false, true}, true);
  const std::string four = StateImageSvg(quarters);
  quarters.places = {{0, 0, 0.5, 0.5}, {0.5, 0, 0.5, 0.5}, {0, 0.5, 0.5, 0.5}, {0.5, 0.5, 0.5, 0.5}};
  EXPECT_EQ(StateImageSvg(quarters), four);

  const std::string named = StateImageSvg(image);
  EXPECT_NE(named.find(">&lt;b&gt;&amp;</text></g>"), std::string::npos);
  EXPECT_EQ(named.find("<b>"), std::string::npos);
  EXPECT_NE(named.find(">Camera\xE2\x80\xA6</text></g>"), std::string::npos);  // cut to what a place holds
  EXPECT_NE(named.find(">2</text></g>"), std::string::npos);
  EXPECT_EQ(TitleOf(named), "Four places (2×2); inputs shown: 3 &lt;b&gt;&amp;, 1 Camera with a long name, 2, 4");

  image.places = {{0, 0, 1, 1}};  // one place, the full frame
  image.step = "2/3";
  image.locked = true;
  const std::string one = StateImageSvg(image);
  EXPECT_EQ(Count(one, "<g class=\"place"), 1u);
  EXPECT_NE(one.find("width=\"128\" height=\"100\""), std::string::npos);
  EXPECT_NE(one.find(">2/3</text></g>"), std::string::npos);
  EXPECT_EQ(Count(one, "<g class=\"lock\">"), 1u);
  EXPECT_EQ(TitleOf(one), "Four places (2×2); inputs shown: 3 &lt;b&gt;&amp;; locked");
}

}  // namespace
