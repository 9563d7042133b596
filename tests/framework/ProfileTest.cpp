#include "framework/WinApp.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app_ = AfxGetApp();
        ASSERT_NE(app_, nullptr);
        savedName_ = app_->m_appName;
        app_->m_appName = "ProfileTestApp";
        app_->SetRegistryKey("HalvernTestMaker");
        DeleteRegistryTree(kKey);
    }
    void TearDown() override
    {
        DeleteRegistryTree("Software\\HalvernTestMaker");
        app_->m_appName = savedName_;
        app_->SetRegistryKey("");
    }

    static constexpr const char* kKey = "Software\\HalvernTestMaker\\ProfileTestApp";
    CWinApp* app_ = nullptr;
    std::string savedName_;
};

} // namespace

TEST(WinApp, ApplicationNameIsTheExecutablesBaseName)
{
    EXPECT_EQ(AfxGetApp()->m_appName, "framework_test");
}

TEST_F(ProfileTest, EmptySectionWritesIntoTheApplicationKeyWithTypesAndTerminator)
{
    EXPECT_TRUE(app_->WriteProfileString("", "Text", "C:\\Rec"));
    EXPECT_TRUE(app_->WriteProfileInt("", "Number", 1));

    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(::RegQueryValueExA(key, "Text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 7u) << "six characters and the terminating NUL";
    ASSERT_EQ(::RegQueryValueExA(key, "Number", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    ::RegCloseKey(key);

    EXPECT_EQ(app_->GetProfileString("", "Text", "default"), "C:\\Rec");
    EXPECT_EQ(app_->GetProfileInt("", "Number", 7), 1u);
}

TEST_F(ProfileTest, MissingOrMistypedValuesGiveTheDefault)
{
    EXPECT_EQ(app_->GetProfileString("", "Absent", "fallback"), "fallback");
    EXPECT_EQ(app_->GetProfileInt("", "Absent", 42), 42u);
    SetRegistryDword(kKey, "NotText", 5);
    SetRegistryString(kKey, "NotNumber", "5");
    EXPECT_EQ(app_->GetProfileString("", "NotText", "fallback"), "fallback");
    EXPECT_EQ(app_->GetProfileInt("", "NotNumber", 9), 9u);
}

TEST_F(ProfileTest, ANamedSectionIsASubkey)
{
    app_->WriteProfileString("Sub", "Value", "x");
    std::string value;
    EXPECT_TRUE(ReadRegistryString(std::string(kKey) + "\\Sub", "Value", value));
    EXPECT_EQ(value, "x");
}
