#include "cookies/cookie_merge.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "cookie_test_util.h"

namespace {

TEST(CookieMerge, StoreFirstThenTheLinesThisRunCouldNotKnow) {
  const int64_t now = 1800000000;
  const std::string previous =
      "# Netscape HTTP Cookie File\n"
      "www.example.test\tFALSE\t/app\tFALSE\t0\tlang\told-value\t\n"  // the store holds it
      "WWW.Example.TEST\tFALSE\t/\tFALSE\t0\tgone\tx\t\n"             // known: the site deleted it
      "other.test\tFALSE\t/\tFALSE\t0\tother\to\n"                    // another host: kept as it is
      "#HttpOnly_other.test\tFALSE\t/\tFALSE\t1900000000\thttp\th\n"   // curl's HttpOnly line
      "other.test\tFALSE\t/\tFALSE\t1700000000\texpired\te\t\n"        // expired: dropped
      "\n"
      "not a cookie line\n"                                          // kept as a person wrote it
      ".example.test\tTRUE\t/\tFALSE\t0\ttoken\tfile-secret\t\n";    // filtered: never the kiosk's
  const vkx::CookieKeys known = {{"www.example.test", "/", "gone"}};
  const std::string merged =
      vkx::MergeCookieFile(StoreCookies(), {"token"}, previous, known, now);
  EXPECT_EQ(merged, std::string(kStoreFile) +
                        "# Netscape HTTP Cookie File\n"
                        "other.test\tFALSE\t/\tFALSE\t0\tother\to\n"
                        "#HttpOnly_other.test\tFALSE\t/\tFALSE\t1900000000\thttp\th\n"
                        "\n"
                        "not a cookie line\n"
                        ".example.test\tTRUE\t/\tFALSE\t0\ttoken\tfile-secret\t\n");
  // Merging again changes nothing, and only the order of lines is no change.
  EXPECT_EQ(vkx::MergeCookieFile(StoreCookies(), {"token"}, merged, known, now), merged);
  EXPECT_TRUE(vkx::SameLines("a\nb\n", "b\na\n"));
  EXPECT_FALSE(vkx::SameLines("a\nb\n", "a\nc\n"));
  EXPECT_FALSE(vkx::SameLines("a\n", "a\na\n"));
}

}  // namespace
