// Which requests and WebSockets the web mode takes: its own names only, and a page's connection only with the
// run's token.
#include "tools/devhost/web_access.h"

#include <set>

#include <gtest/gtest.h>

namespace {

constexpr uint16_t kPort = 4321;
const char kToken[] = "0123456789abcdef0123456789abcdef";

TEST(WebAccess, HostMustNameThisServer) {
  const struct {
    const char* host;
    uint16_t port;
    bool allowed;
  } cases[] = {
      {"127.0.0.1:4321", kPort, true},
      {"LocalHost:4321", kPort, true},
      {"127.0.0.1", kPort, false},  // a browser always names a port other than 80
      {"127.0.0.1:80", 80, true},
      {"127.0.0.1", 80, true},
      {"", kPort, false},
      {"127.0.0.1:43210", kPort, false},
      {"127.0.0.2:4321", kPort, false},
      {"[::1]:4321", kPort, false},  // it does not listen there
      {"evil.example:4321", kPort, false},  // a name rebound to 127.0.0.1
      {"localhost.:4321", kPort, false},
      {"127.0.0.1:4321.evil.example", kPort, false},
      {" 127.0.0.1:4321", kPort, false},
  };
  for (const auto& c : cases) EXPECT_EQ(HostAllowed(c.host, c.port), c.allowed) << c.host << " on " << c.port;
}

TEST(WebAccess, OriginMustBeAbsentOrOneOfThisServersPages) {
  const struct {
    const char* origin;
    bool allowed;
  } cases[] = {
      {"", true},
      {"http://127.0.0.1:4321", true},
      {"HTTP://LOCALHOST:4321", true},
      {"http://127.0.0.1:43210", false},
      {"http://127.0.0.1", false},
      {"https://127.0.0.1:4321", false},
      {"http://127.0.0.1:4321/", false},
      {"http://127.0.0.1:4321.evil.example", false},
      {"http://evil.example:4321", false},
      {"null", false},
  };
  for (const auto& c : cases) EXPECT_EQ(OriginAllowed(c.origin, kPort), c.allowed) << c.origin;
}

TEST(WebAccess, WebSocketIsMoreThanThePluginOnlyWithTheToken) {
  using A = WebSocketAccess;
  const std::string withToken = std::string("/?token=") + kToken;
  const struct {
    const char* host;
    const char* origin;
    std::string resource;
    WebSocketAccess access;
  } cases[] = {
      // The plug-in and a script: no Origin.
      {"127.0.0.1:4321", "", "/", A::kPluginOnly},
      {"127.0.0.1:4321", "", withToken, A::kAny},
      {"localhost:4321", "", withToken + "#x", A::kAny},
      {"127.0.0.1:4321", "", "/?a=1&token=" + std::string(kToken) + "&b=2", A::kAny},
      {"127.0.0.1:4321", "", "/?token=0123456789ABCDEF0123456789ABCDEF", A::kPluginOnly},
      {"127.0.0.1:4321", "", withToken.substr(0, withToken.size() - 1), A::kPluginOnly},
      {"127.0.0.1:4321", "", withToken + "0", A::kPluginOnly},
      {"127.0.0.1:4321", "", "/?xtoken=" + std::string(kToken), A::kPluginOnly},
      {"127.0.0.1:4321", "", "/#token=" + std::string(kToken), A::kPluginOnly},
      {"127.0.0.1:4321", "", "/?token=%zz" + std::string(kToken), A::kPluginOnly},
      // The pages: the token, under either name; their Origin alone is not enough, as any local program can send it.
      {"127.0.0.1:4321", "http://127.0.0.1:4321", withToken, A::kAny},
      {"127.0.0.1:4321", "http://localhost:4321", withToken, A::kAny},  // the inspector of a page opened as localhost
      {"127.0.0.1:4321", "http://127.0.0.1:4321", "/", A::kPluginOnly},
      {"127.0.0.1:4321", "http://localhost:4321", "/?token=" + std::string(kToken, 31), A::kPluginOnly},
      // Refused whatever the token.
      {"127.0.0.1:4321", "http://evil.example", withToken, A::kRefused},
      {"evil.example:4321", "", withToken, A::kRefused},
      {"evil.example:4321", "http://evil.example:4321", "/", A::kRefused},
      {"", "", withToken, A::kRefused},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WebSocketAccessFor(c.host, c.origin, c.resource, kPort, kToken), c.access)
        << c.host << " | " << c.origin << " | " << c.resource;
  }
}

TEST(WebAccess, PrintedAddressCarriesAFreshTokenThatReadsBack) {
  std::set<std::string> seen;
  for (int i = 0; i < 8; ++i) {
    const std::string token = NewAccessToken();
    ASSERT_EQ(token.size(), 32u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
    EXPECT_TRUE(seen.insert(token).second) << token;
    const std::string url = PanelPageUrl(kPort, token);
    EXPECT_EQ(url, "http://127.0.0.1:4321/?token=" + token);
    EXPECT_EQ(WebSocketAccessFor("127.0.0.1:4321", "", url.substr(url.find("/?")), kPort, token),
              WebSocketAccess::kAny);
  }
  EXPECT_EQ(QueryParameter("/?token=a%20b&x=1&x=2", "token"), "a b");
  EXPECT_EQ(QueryParameter("/?token=a%20b&x=1&x=2", "x"), "1");
}

}  // namespace
