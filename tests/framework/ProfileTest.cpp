#include "framework/WinApp.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

// The profile lies in HKCU\Software\<maker>\<the executable's base name> once a maker is set.
TEST(Profile, NeedsAMaker)
{
    CWinApp app;
    EXPECT_FALSE(app.WriteProfileInt(L"", L"Number", 1));
}

TEST(Profile, AValueOfTheOtherTypeGivesTheDefault)
{
    CWinApp app;
    app.SetRegistryKey(L"HalvernTestMaker");
    EXPECT_TRUE(app.WriteProfileString(L"", L"Text", L"C")); // four bytes, as many as a number's
    EXPECT_TRUE(app.WriteProfileInt(L"", L"Number", 1));
    EXPECT_EQ(L"default", app.GetProfileString(L"", L"Number", L"default"));
    EXPECT_EQ(7u, app.GetProfileInt(L"", L"Text", 7));
    testing_support::DeleteRegistryTree("Software\\HalvernTestMaker");
}
