// The connection's own client frames against the ones websocketpp builds for the same text and masking key.
#include "host/websocket_client_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <websocketpp/config/asio_no_tls_client.hpp>
#include <websocketpp/processors/hybi13.hpp>

namespace {

// Hands the library's framing the key under test instead of a random one.
struct FixedKey {
  uint32_t operator()() { return key; }
  uint32_t key = 0;
};

struct FixedKeyConfig : websocketpp::config::asio_client {
  typedef FixedKey rng_type;
};

using LibraryFraming = websocketpp::processor::hybi13<FixedKeyConfig>;

// Header and payload as websocketpp would write them for a text message sent with `key`; empty header when the
// library refuses the text.
std::pair<std::string, std::string> LibraryFrame(const std::string& text, uint32_t key) {
  auto manager = std::make_shared<FixedKeyConfig::con_msg_manager_type>();
  FixedKey rng{key};
  LibraryFraming framing(false, false, manager, rng);
  auto in = manager->get_message(websocketpp::frame::opcode::text, text.size());
  in->set_payload(text);
  auto out = manager->get_message();
  if (framing.prepare_data_frame(in, out)) return {};
  return {out->get_header(), out->get_payload()};
}

// Lengths around every word and header-size boundary, odd keys, ASCII and other UTF-8 text.
TEST(WebSocketClientFrame, SameBytesAsTheLibraryForTheSameKey) {
  std::string ascii;
  for (int i = 0; i < 70000; ++i) ascii += static_cast<char>('!' + i % 90);
  const std::string accented = "caf\xC3\xA9 \xE2\x82\xAC";
  for (const uint32_t key : {0u, 0xFFFFFFFFu, 0x01020304u, 0xA5C3961Eu}) {
    for (const size_t length : {0, 1, 4, 5, 9, 125, 126, 65535, 65536, 70000}) {
      const std::string text = ascii.substr(0, length);
      std::string header;
      std::string payload;
      ASSERT_TRUE(PrepareMaskedTextFrame(text, key, header, payload));
      EXPECT_EQ(std::make_pair(header, payload), LibraryFrame(text, key)) << "length " << length << " key " << key;
    }
    for (const std::string& text : {accented, accented + ascii.substr(0, 21), ascii.substr(0, 13) + accented}) {
      std::string header;
      std::string payload;
      ASSERT_TRUE(PrepareMaskedTextFrame(text, key, header, payload));
      EXPECT_EQ(std::make_pair(header, payload), LibraryFrame(text, key)) << text;
    }
  }
}

TEST(WebSocketClientFrame, RefusesTextThatIsNotUtf8) {
  for (const std::string& text :
       {std::string("\xC3"), std::string("plain ascii then \xFF"), std::string("abcdefgh\xE2\x82")}) {
    std::string header = "untouched";
    std::string payload = "untouched";
    EXPECT_FALSE(PrepareMaskedTextFrame(text, 0x12345678u, header, payload));
    EXPECT_EQ(header + payload, "untoucheduntouched");
  }
}

}  // namespace
