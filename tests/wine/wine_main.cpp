// The wine scenarios' runner: `wine_scenarios --wine=PATH --windows-build=DIR --work=DIR [gtest flags]`.
// tools/wine-tests.sh prepares the prefix (WINEPREFIX) and calls it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/wine/wine_session.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto take = [&](const char* name, std::string* into) {
      if (arg.rfind(name, 0) == 0) *into = arg.substr(std::strlen(name));
    };
    take("--wine=", &Wine().wine);
    take("--windows-build=", &Wine().windowsBuild);
    take("--work=", &Wine().work);
  }
  if (Wine().wine.empty() || Wine().windowsBuild.empty() || Wine().work.empty()) {
    std::fprintf(stderr, "usage: wine_scenarios --wine=PATH --windows-build=DIR --work=DIR\n");
    return 2;
  }
  return RUN_ALL_TESTS();
}
