#include "platform/foundation/URLReference.h"

#include <gtest/gtest.h>
#include <utility>

namespace platform {
namespace {

constexpr const char* kBase = "http://a/b/c/d;p?q";

// RFC 3986 section 5.4.1.
TEST(URLReference, NormalExamplesOfTheStandard) {
  const std::pair<const char*, const char*> examples[] = {
      {"g:h", "g:h"},
      {"g", "http://a/b/c/g"},
      {"./g", "http://a/b/c/g"},
      {"g/", "http://a/b/c/g/"},
      {"/g", "http://a/g"},
      {"//g", "http://g"},
      {"?y", "http://a/b/c/d;p?y"},
      {"g?y", "http://a/b/c/g?y"},
      {"#s", "http://a/b/c/d;p?q#s"},
      {"g#s", "http://a/b/c/g#s"},
      {"g?y#s", "http://a/b/c/g?y#s"},
      {";x", "http://a/b/c/;x"},
      {"g;x", "http://a/b/c/g;x"},
      {"g;x?y#s", "http://a/b/c/g;x?y#s"},
      {"", "http://a/b/c/d;p?q"},
      {".", "http://a/b/c/"},
      {"./", "http://a/b/c/"},
      {"..", "http://a/b/"},
      {"../", "http://a/b/"},
      {"../g", "http://a/b/g"},
      {"../..", "http://a/"},
      {"../../", "http://a/"},
      {"../../g", "http://a/g"},
  };
  for (const auto& [reference, expected] : examples) {
    EXPECT_EQ(resolveURLReference(kBase, reference), expected) << reference;
  }
}

// RFC 3986 section 5.4.2.
TEST(URLReference, AbnormalExamplesOfTheStandard) {
  const std::pair<const char*, const char*> examples[] = {
      {"../../../g", "http://a/g"},
      {"../../../../g", "http://a/g"},
      {"/./g", "http://a/g"},
      {"/../g", "http://a/g"},
      {"g.", "http://a/b/c/g."},
      {".g", "http://a/b/c/.g"},
      {"g..", "http://a/b/c/g.."},
      {"..g", "http://a/b/c/..g"},
      {"./../g", "http://a/b/g"},
      {"./g/.", "http://a/b/c/g/"},
      {"g/./h", "http://a/b/c/g/h"},
      {"g/../h", "http://a/b/c/h"},
      {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
      {"g;x=1/../y", "http://a/b/c/y"},
      {"g?y/./x", "http://a/b/c/g?y/./x"},
      {"g?y/../x", "http://a/b/c/g?y/../x"},
      {"g#s/./x", "http://a/b/c/g#s/./x"},
      {"g#s/../x", "http://a/b/c/g#s/../x"},
      {"http:g", "http:g"},
  };
  for (const auto& [reference, expected] : examples) {
    EXPECT_EQ(resolveURLReference(kBase, reference), expected) << reference;
  }
}

TEST(URLReference, ABaseWithAnEmptyPathGainsASlash) {
  EXPECT_EQ(resolveURLReference("https://www.example.com", "foo.xml"),
            "https://www.example.com/foo.xml");
  EXPECT_EQ(resolveURLReference("file:///run/", "sized/a"), "file:///run/sized/a");
}

} // namespace
} // namespace platform
