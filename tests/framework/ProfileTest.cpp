#include "framework/WinApp.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

// The profile lies in HKCU\Software\<maker>\<the executable's base name> once a maker is set.
TEST(Profile, NeedsAMakerAndGivesTheDefaultForAValueOfTheOtherType)
{
    CWinApp app;
    EXPECT_FALSE(app.WriteProfileInt("", "Number", 1)) << "no maker, no profile";
    app.SetRegistryKey("HalvernTestMaker");
    EXPECT_TRUE(app.WriteProfileString("", "Text", "C:\\")); // four bytes, as many as a number's
    EXPECT_TRUE(app.WriteProfileInt("", "Number", 1));
    EXPECT_EQ("default", app.GetProfileString("", "Number", "default"));
    EXPECT_EQ(7u, app.GetProfileInt("", "Text", 7));
    testing_support::DeleteRegistryTree("Software\\HalvernTestMaker");
}
