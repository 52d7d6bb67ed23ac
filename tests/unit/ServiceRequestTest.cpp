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

// The site's forms go by their id; another site's address goes whole, with every character
// that could end the value or start a parameter of the request escaped.
TEST(ServiceRequestTest, LookupPathSendsTheIdOrTheWholeAddressOfAnotherSite)
{
    const struct
    {
        const char* address; // UTF-8
        const char* path;
    } cases[] = {
        {"https://youtu.be/AbCdEfGhIjK?si=x", "/api/?videoid=AbCdEfGhIjK"},
        {"https://www.youtube.com/watch?v=Ab dEf%GhIj", "/api/?videoid=Ab%20dEf%25GhIj"},
        {"https://vimeo.com/76979871?a=1&b=%2F#t=3",
         "/api/?url=https%3A%2F%2Fvimeo.com%2F76979871%3Fa%3D1%26b%3D%252F%23t%3D3"},
        {"HTTP://Example.org/~x/\xc3\xa4-_.",
         "/api/?url=HTTP%3A%2F%2FExample.org%2F~x%2F%C3%A4-_."},
        // Another site's "v=" is its own: the address goes whole, not as an id.
        {"http://127.0.0.1:8080/watch?v=AbCdEfGhIjK",
         "/api/?url=http%3A%2F%2F127.0.0.1%3A8080%2Fwatch%3Fv%3DAbCdEfGhIjK"},
        // Refused: the site's address without a video, another scheme, no scheme for another
        // site, a blank inside or before, the empty text.
        {"https://www.youtube.com/watch?V=AbCdEfGhIjK", ""},
        {"https://www.youtube.com/@channel", ""},
        {"https://youtu.be/", ""},
        {"ftp://example.org/a.mp4", ""},
        {"example.org/video", ""},
        {"https://example.org/a video", ""},
        {" https://example.org/video", ""},
        {"https://", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.path, LookupPath(wxString::FromUTF8(c.address))) << c.address;
}
