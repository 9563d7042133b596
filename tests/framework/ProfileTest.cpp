#include "framework/ScopedWin.h"
#include "framework/WinApp.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

// The profile lies in HKCU\Software\<maker>\<the executable's base name> once a maker is set.
TEST(Profile, StringsAreStoredWithTheirTerminatorAndAMistypedValueGivesTheDefault)
{
    CWinApp& app = *AfxGetApp();
    EXPECT_FALSE(app.WriteProfileInt("", "Number", 1)) << "no maker, no profile";
    app.SetRegistryKey("HalvernTestMaker");
    EXPECT_TRUE(app.WriteProfileString("", "Text", "C:\\Rec"));
    EXPECT_TRUE(app.WriteProfileInt("", "Number", 1));
    UniqueRegKey stored;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\HalvernTestMaker\\framework_test", 0,
                                             KEY_READ, stored.Receive()));
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, ::RegQueryValueExA(stored.Get(), "Text", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(7u, size) << "six characters and the terminating NUL";
    EXPECT_EQ("default", app.GetProfileString("", "Number", "default"));
    EXPECT_EQ(7u, app.GetProfileInt("", "Text", 7));
    testing_support::DeleteRegistryTree("Software\\HalvernTestMaker");
    app.SetRegistryKey("");
}
