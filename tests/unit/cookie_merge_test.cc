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

// Another program's change to the file wins over the store's older copy;
// where both changed a cookie, the later change wins.
TEST(CookieMerge, FileChangedByAnotherProgram) {
  const auto line = [](const char* name, const char* value) {
    return std::string("h.test\tFALSE\t/\tFALSE\t0\t") + name + "\t" + value + "\t\n";
  };
  const auto cookie = [](const char* name, const char* value) {
    return MakeCookie("h.test", "/", false, 0, name, value);
  };
  const vkx::CookieLines base =
      vkx::CookieLinesOf(line("a", "1") + line("b", "1") + line("c", "1") + line("d", "1"));
  // The other program changed a, c and d and added e; the page changed b and
  // c and deleted d.
  const std::string file =
      line("a", "2") + line("b", "1") + line("c", "2") + line("d", "2") + line("e", "new");
  const std::vector<engine::Cookie> store = {cookie("a", "1"), cookie("b", "3"), cookie("c", "3")};
  const vkx::CookieKeys known = {{"h.test", "/", "d"}};
  EXPECT_TRUE(vkx::SameLines(
      vkx::MergeCookieFile(store, {}, file, known, 0, base, false),
      line("a", "2") + line("b", "3") + line("c", "3") + line("e", "new")));
  EXPECT_TRUE(vkx::SameLines(
      vkx::MergeCookieFile(store, {}, file, known, 0, base, true),
      line("a", "2") + line("b", "3") + line("c", "2") + line("d", "2") + line("e", "new")));
}

}  // namespace
