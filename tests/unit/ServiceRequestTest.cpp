#include "lookup/ServiceRequest.h"

#include <gtest/gtest.h>

TEST(ServiceRequestTest, ServiceAddressWithOrWithoutClosingSlash)
{
    for (const char* base :
         {"http://127.0.0.1:8731", "http://127.0.0.1:8731/", "http://127.0.0.1:8731//"})
        EXPECT_EQ("http://127.0.0.1:8731/hub.php?s=curver",
                  ServiceRequestAddress(base, "/hub.php?s=curver"))
            << base;
    EXPECT_EQ("http://host/sub/api/?videoid=x",
              ServiceRequestAddress("http://host/sub/", "/api/?videoid=x"));
}

TEST(ServiceRequestTest, QueryValueIsEscapedAsTheToolkitsParserDid)
{
    const struct
    {
        const char* value; // UTF-8
        const char* escaped;
    } cases[] = {
        {"AbCdEfGhIjK", "AbCdEfGhIjK"},
        {"Ab-_.~!$'()*+,;:@/?", "Ab-_.~!$'()*+,;:@/?"},
        // A query's own separators stay: the service reads them as the toolkit sent them.
        {"1&v=AbCdEfG", "1&v=AbCdEfG"},
        {"Ab dE\tf", "Ab%20dE%09f"},
        {"\"<>\\^`{|}", "%22%3C%3E%5C%5E%60%7B%7C%7D"},
        {"Ab#Cd", "Ab%23Cd"},
        {"\xc3\x84\xe2\x82\xac", "%C3%84%E2%82%AC"},
        // An escape stays one; a lone percent sign is escaped itself.
        {"a%20b%2", "a%20b%252"},
        {"%zz%", "%25zz%25"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.escaped, EscapeQueryValue(wxString::FromUTF8(c.value))) << c.value;
}
