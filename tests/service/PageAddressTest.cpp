// The addresses of other sites' pages the service accepts, and the ids it names them by.
#include "PageAddress.h"
#include "ResolverJson.h"

#include <gtest/gtest.h>

namespace
{
TEST(PageAddressTest, OnlyHttpAndHttpsAddressesWithAHostAreAccepted)
{
    for (const char* good : {"http://127.0.0.1:8080/page.html", "HTTPS://example.org/v?a=1&b=2"})
        EXPECT_TRUE(PageAddress::IsAccepted(good)) << good;
    for (const char* bad :
         {"", "ftp://example.org/x", "file:///etc/passwd", "http://", "http:///x", "--exec=touch",
          "javascript:alert(1)", "http://a/b c", "http://a/\nb", "example.org/x"})
        EXPECT_FALSE(PageAddress::IsAccepted(bad)) << bad;
}

TEST(PageAddressTest, IdsAreStableDistinctAndNeverVideoIds)
{
    const std::string id = PageAddress::IdOf("http://127.0.0.1/a");
    EXPECT_EQ(id, PageAddress::IdOf("http://127.0.0.1/a"));
    EXPECT_NE(id, PageAddress::IdOf("http://127.0.0.1/b"));
    EXPECT_TRUE(PageAddress::IsId(id));
    EXPECT_FALSE(IsValidVideoId(id));
    EXPECT_TRUE(IsValidFormatId(id)) << "it goes into /stream/ID/ and /picture/ID";
    for (const char* bad :
         {"AbCdEfGhI-_", "a-0123456789abcdeg", "a-0123456789abcde", "b-0123456789abcdef"})
        EXPECT_FALSE(PageAddress::IsId(bad)) << bad;
}
} // namespace
