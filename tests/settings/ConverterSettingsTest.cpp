#include "framework/WinApp.h"
#include "settings/ConverterSettings.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace testing_support;

namespace {

const char kRecordingKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media Center\\Service\\Recording";
const char kAppKey[] = "Software\\Morrowick\\settings_test";

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TearDown();
        profile.SetRegistryKey("Morrowick");
    }
    void TearDown() override
    {
        DeleteRegistryTree(kRecordingKey, HKEY_LOCAL_MACHINE);
        DeleteRegistryTree(kAppKey);
    }
    CWinApp profile; // named after this program
};

TEST_F(SettingsTest, DefaultsTakeTheRecordingDirectoryOnlyWhenItIsReadWhole)
{
    CConverterSettings defaults = CConverterSettings::Defaults();
    EXPECT_EQ(defaults.InputPath, "C:\\") << "without the media centre's key";
    EXPECT_EQ(defaults.OutputPath, "C:\\");
    EXPECT_EQ(defaults.InputExt, "DVR-MS");
    EXPECT_EQ(defaults.OutputExt, "MPG");
    EXPECT_EQ(defaults.UseFilterGraph, "<Internal DVR to MPG graph>");
    EXPECT_EQ(defaults.DeleteSourceFile | defaults.HideOnStartup | defaults.AutoStartConvert, 0u);

    // Stored as raw bytes: with or without a terminator, of another type, or with variables in it.
    ::SetEnvironmentVariableA("HALVERN_TEST_DRIVE", "F:");
    const struct {
        DWORD type;
        std::string bytes;
        std::string expected;
    } raw[] = {
        {REG_SZ, std::string("D:\\Recorded TV", 15), "D:\\Recorded TV"},
        {REG_SZ, std::string(255, 'r') + '\0', std::string(255, 'r')}, // 255 characters and the NUL fit
        {REG_SZ, std::string(256, 'r') + '\0', "C:\\"},
        {REG_SZ, std::string(256, 'u'), "C:\\"},            // fills the buffer: too long
        {REG_SZ, "E:\\Unterminated", "E:\\Unterminated"}, // ended by the reader where there is room
        {REG_EXPAND_SZ, std::string("%HALVERN_TEST_DRIVE%\\TV", 24), "F:\\TV"},
        {REG_BINARY, std::string("D:\\Binary", 10), "C:\\"},
        {REG_MULTI_SZ, std::string("D:\\Multi\0", 10), "C:\\"},
    };
    for (const auto& r : raw) {
        SCOPED_TRACE(r.expected + " from type " + std::to_string(r.type));
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRecordingKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                    nullptr),
                  ERROR_SUCCESS);
        // Followed by a byte that is no NUL, lest the registry count a terminator it finds after them.
        const std::string data = r.bytes + '!';
        ::RegSetValueExA(key, "RecordPath", 0, r.type, reinterpret_cast<const BYTE*>(data.data()),
                         static_cast<DWORD>(r.bytes.size()));
        ::RegCloseKey(key);
        defaults = CConverterSettings::Defaults();
        EXPECT_EQ(defaults.InputPath, r.expected);
        EXPECT_EQ(defaults.OutputPath, r.expected);
    }
    ::SetEnvironmentVariableA("HALVERN_TEST_DRIVE", nullptr);
}

auto Fields(const CConverterSettings& s)
{
    return std::tie(s.InputPath, s.OutputPath, s.InputExt, s.OutputExt, s.UseFilterGraph, s.DeleteSourceFile,
                    s.HideOnStartup, s.AutoStartConvert);
}

TEST_F(SettingsTest, SaveWritesAllEightValuesAndLoadKeepsWhatTheProfileLacks)
{
    const CConverterSettings saved = {"E:\\In", "E:\\Out\\", "ts", "mpeg", "Mine.xgr", 2, 3, 4};
    saved.Save(profile);
    std::string text;
    DWORD number = 0;
    ASSERT_TRUE(ReadRegistryString(kAppKey, "UseFilterGraph", text));
    EXPECT_EQ(text, "Mine.xgr");
    ASSERT_TRUE(ReadRegistryDword(kAppKey, "AutoStartConvert", number));
    EXPECT_EQ(number, 4u);

    DeleteRegistryValue(kAppKey, "OutputPath");
    DeleteRegistryValue(kAppKey, "HideOnStartup");
    CConverterSettings loaded = {"", "F:\\Kept", "", "", "", 0, 7, 0};
    loaded.Load(profile);
    const CConverterSettings expected = {"E:\\In", "F:\\Kept", "ts", "mpeg", "Mine.xgr", 2, 7, 4};
    EXPECT_EQ(Fields(loaded), Fields(expected));
}

} // namespace
