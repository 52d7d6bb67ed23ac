#include "lookup/ServiceAddress.h"
#include "config/AppConfig.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

TEST(ServiceAddressTest, TheOwnServiceServesOnlyWhenTheSettingsNameNone)
{
    TempDir home;
    wxString homePath = home.Path();
    ScopedEnv homeEnv{"HOME", &homePath};
    int asked = 0;
    ServiceAddress::SetOwnServiceSource(
        [&asked]
        {
            ++asked;
            return wxString("http://127.0.0.1:40000");
        });
    EXPECT_EQ("http://127.0.0.1:40000", ServiceAddress::ForRequest());
    EXPECT_EQ(1, asked);
    // A set key is the user's choice, even when it is empty; reading the settings never
    // starts a service.
    for (const wxString stored : {"http://10.0.0.1:80", ""})
    {
        ASSERT_TRUE(WriteFileText(home.File(".Norvik"), "ServiceUrl=" + stored + "\n"));
        EXPECT_EQ(stored, ServiceAddress::ForRequest());
        EXPECT_EQ(stored, AppConfig().GetServiceUrl());
    }
    wxRemoveFile(home.File(".Norvik"));
    EXPECT_EQ("http://127.0.0.1:8731", AppConfig().GetServiceUrl());
    EXPECT_EQ(1, asked);
    ServiceAddress::SetOwnServiceSource(nullptr);
    EXPECT_EQ("http://127.0.0.1:8731", ServiceAddress::ForRequest());
}
