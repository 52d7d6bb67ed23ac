#include "lookup/GivenAddress.h"

#include <gtest/gtest.h>

// What a drop or a paste brings: a "text/uri-list" with comments and CRLF line ends, or a
// selection with blanks and a line end around the address.
TEST(GivenAddressTest, FirstLineThatIsNoCommentWithoutBlanksAround)
{
    const struct
    {
        const char* text;
        const char* address;
    } cases[] = {
        {"https://youtu.be/AbCdEfGhIjK", "https://youtu.be/AbCdEfGhIjK"},
        {"# dragged from a page\r\nhttps://a.example/1\r\nhttps://b.example/2\r\n",
         "https://a.example/1"},
        {"\r\n  https://a.example/1 \t\n", "https://a.example/1"},
        {"#only a comment\r\n", ""},
        {" \n\t", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.address, GivenAddress(c.text)) << c.text;
}
