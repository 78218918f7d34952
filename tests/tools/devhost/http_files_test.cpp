// Which request paths reach which files.
#include "tools/devhost/http_files.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace {

TEST(ResolveServedFile, ServesOnlyRegularFilesInsideTheRoot) {
  char base[] = "/tmp/pnx-http-files-XXXXXX";
  ASSERT_NE(mkdtemp(base), nullptr);
  const std::string root = std::string(base) + "/bundle.pxPlugin";
  ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((root + "/inspector").c_str(), 0755), 0);
  std::ofstream(root + "/manifest.json") << "{}";
  std::ofstream(root + "/inspector/index.html") << "<p>";
  std::ofstream(root + "/a b.json") << "{}";
  std::ofstream(std::string(base) + "/secret.txt") << "secret";
  // A sibling folder whose name starts like the root's must not pass a prefix check.
  ASSERT_EQ(mkdir((std::string(base) + "/bundle.pxPlugin-other").c_str(), 0755), 0);
  std::ofstream(std::string(base) + "/bundle.pxPlugin-other/x.json") << "{}";
  ASSERT_EQ(symlink("../secret.txt", (root + "/out-file").c_str()), 0);
  ASSERT_EQ(symlink(base, (root + "/out-dir").c_str()), 0);
  ASSERT_EQ(symlink("inspector/index.html", (root + "/in-link.html").c_str()), 0);

  const struct {
    const char* request;
    const char* served;  // relative to root; "" = refused
  } cases[] = {
      {"manifest.json", "manifest.json"},
      {"inspector/index.html", "inspector/index.html"},
      {"inspector%2Findex.html", "inspector/index.html"},
      {"a%20b.json", "a b.json"},
      {"in-link.html", "inspector/index.html"},
      {"", ""},
      {"inspector", ""},
      {"missing.json", ""},
      {"../secret.txt", ""},
      {"inspector/../manifest.json", ""},
      {"./manifest.json", ""},
      {"%2e%2e/secret.txt", ""},
      {"..%2fsecret.txt", ""},
      {"%252e%252e/secret.txt", ""},
      {"/etc/passwd", ""},
      {"%2Fetc%2Fpasswd", ""},
      {"manifest.json%00.html", ""},
      {"%", ""},
      {"%zz", ""},
      {"out-file", ""},
      {"out-dir/secret.txt", ""},
      {"../bundle.pxPlugin-other/x.json", ""},
  };
  const std::string realRoot = std::filesystem::canonical(root);
  for (const auto& c : cases) {
    const std::string expected = *c.served ? realRoot + "/" + c.served : "";
    EXPECT_EQ(ResolveServedFile(root, c.request), expected) << c.request;
  }
  EXPECT_EQ(ResolveServedFile(root + "/missing-root", "manifest.json"), "");
}

}  // namespace
