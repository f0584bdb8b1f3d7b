#include "request/allow_list.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool Allowed(const std::string& url, const std::string& list) {
  return vkx::UrlAllowed(url, vkx::ParseAllowList(list));
}

TEST(AllowList, HostsAreComparedAsParsedUrlsNeverAsText) {
  const std::string list = " portal.example.com , *.intra.test:8443,http://plain.test/app/ ,:99,*";
  for (const char* url : {"https://portal.example.com/", "http://PORTAL.Example.COM./x?y",
                          "https://user:pw@portal.example.com/login", "https://intra.test:8443/",
                          "https://a.b.intra.test:8443/p", "http://plain.test/app/page"}) {
    EXPECT_TRUE(Allowed(url, list)) << url;
  }
  for (const char* url : {"https://portal.example.com@evil.test/", "https://portal.example.com.evil.test/",
                          "https://evilportal.example.com/", "https://intra.test/", "https://xintra.test:8443/",
                          "https://plain.test/app/", "http://plain.test/other", "not a url", "file:///etc/passwd",
                          "data:text/html,hi"}) {
    EXPECT_FALSE(Allowed(url, list)) << url;
  }
  // IDN hosts match in their ASCII form, either way round.
  EXPECT_TRUE(Allowed("https://xn--bcher-kva.test/", "bücher.test"));
  EXPECT_TRUE(Allowed("https://bücher.test/", "xn--bcher-kva.test"));
}

TEST(AllowList, EmptyListAllowsAllAndTheStartPageIsAlwaysAllowed) {
  EXPECT_TRUE(vkx::NavigationAllowed("https://anything.test/", "", "https://start.test/"));
  EXPECT_TRUE(vkx::NavigationAllowed("data:text/html,start", "other.test", "data:text/html,start"));
  EXPECT_TRUE(vkx::NavigationAllowed("about:blank", "other.test", "https://start.test/"));
  EXPECT_FALSE(vkx::NavigationAllowed("https://start.test/x", "other.test", "https://start.test/"));
  // A list of nothing readable allows nothing but the start page.
  EXPECT_FALSE(vkx::NavigationAllowed("https://other.test/", " , *", "https://start.test/"));
}

}  // namespace
