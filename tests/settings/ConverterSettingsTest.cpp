#include "app/ConverterApp.h"
#include "settings/ConverterSettings.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

const char kRecordingKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media Center\\Service\\Recording";
const char kAppKey[] = "Software\\Morrowick\\settings_test";

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteRegistryTree(kRecordingKey, HKEY_LOCAL_MACHINE);
        DeleteRegistryTree(kAppKey);
        ConverterApp().SetRegistryKey("Morrowick");
    }
    void TearDown() override
    {
        DeleteRegistryTree(kRecordingKey, HKEY_LOCAL_MACHINE);
        DeleteRegistryTree(kAppKey);
    }
};

} // namespace

TEST_F(SettingsTest, DefaultsWithoutTheMediaCentreKey)
{
    CConverterSettings settings;
    EXPECT_EQ(settings.InputPath, "C:\\");
    EXPECT_EQ(settings.OutputPath, "C:\\");
    EXPECT_EQ(settings.InputExt, "DVR-MS");
    EXPECT_EQ(settings.OutputExt, "MPG");
    EXPECT_EQ(settings.UseFilterGraph, "<Internal DVR to MPG graph>");
    EXPECT_EQ(settings.DeleteSourceFile, 0u);
    EXPECT_EQ(settings.HideOnStartup, 0u);
    EXPECT_EQ(settings.AutoStartConvert, 0u);
}

TEST_F(SettingsTest, RecordingDirectoryBecomesBothDefaultPathsOnlyWhenItFitsWhole)
{
    SetRegistryString(kRecordingKey, "RecordPath", "D:\\Recorded TV", HKEY_LOCAL_MACHINE);
    CConverterSettings found;
    EXPECT_EQ(found.InputPath, "D:\\Recorded TV");
    EXPECT_EQ(found.OutputPath, "D:\\Recorded TV");

    SetRegistryString(kRecordingKey, "RecordPath", std::string(255, 'r'), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(CConverterSettings().InputPath, std::string(255, 'r')) << "255 characters and the NUL fit";

    SetRegistryString(kRecordingKey, "RecordPath", std::string(256, 'r'), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(CConverterSettings().InputPath, "C:\\");

    // Stored as raw bytes: without a terminator, of another type, or with variables in it.
    ::SetEnvironmentVariableA("HALVERN_TEST_DRIVE", "F:");
    const struct {
        DWORD type;
        std::string bytes;
        std::string expected;
    } raw[] = {
        {REG_SZ, std::string(256, 'u'), "C:\\"},            // fills the buffer: too long
        {REG_SZ, "E:\\Unterminated", "E:\\Unterminated"}, // read whole by the zero-filled buffer
        {REG_EXPAND_SZ, std::string("%HALVERN_TEST_DRIVE%\\TV"), "F:\\TV"},
        {REG_BINARY, std::string("D:\\Binary", 10), "C:\\"},
        {REG_MULTI_SZ, std::string("D:\\Multi\0", 10), "C:\\"},
    };
    for (const auto& r : raw) {
        SCOPED_TRACE(r.expected + " from type " + std::to_string(r.type));
        HKEY key = nullptr;
        ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRecordingKey, 0, KEY_WRITE, &key), ERROR_SUCCESS);
        ::RegSetValueExA(key, "RecordPath", 0, r.type, reinterpret_cast<const BYTE*>(r.bytes.data()),
                         static_cast<DWORD>(r.bytes.size()));
        ::RegCloseKey(key);
        CConverterSettings settings;
        EXPECT_EQ(settings.InputPath, r.expected);
        EXPECT_EQ(settings.OutputPath, r.expected);
    }
    ::SetEnvironmentVariableA("HALVERN_TEST_DRIVE", nullptr);
}

TEST_F(SettingsTest, SaveWritesAllEightValuesAndLoadReadsEachIndependently)
{
    CConverterSettings saved;
    saved.InputPath = "E:\\In";
    saved.OutputPath = "E:\\Out\\";
    saved.InputExt = "ts";
    saved.OutputExt = "mpeg";
    saved.UseFilterGraph = "Mine.xgr";
    saved.DeleteSourceFile = 1;
    saved.HideOnStartup = 1;
    saved.AutoStartConvert = 1;
    saved.Save();

    std::string text;
    DWORD number = 0;
    ASSERT_TRUE(ReadRegistryString(kAppKey, "UseFilterGraph", text));
    EXPECT_EQ(text, "Mine.xgr");
    ASSERT_TRUE(ReadRegistryDword(kAppKey, "AutoStartConvert", number));
    EXPECT_EQ(number, 1u);

    DeleteRegistryValue(kAppKey, "OutputPath");
    DeleteRegistryValue(kAppKey, "HideOnStartup");
    CConverterSettings loaded;
    loaded.Load();
    EXPECT_EQ(loaded.InputPath, "E:\\In");
    EXPECT_EQ(loaded.OutputPath, "C:\\") << "a missing value keeps its default, not the stored input path";
    EXPECT_EQ(loaded.InputExt, "ts");
    EXPECT_EQ(loaded.OutputExt, "mpeg");
    EXPECT_EQ(loaded.UseFilterGraph, "Mine.xgr");
    EXPECT_EQ(loaded.DeleteSourceFile, 1u);
    EXPECT_EQ(loaded.HideOnStartup, 0u);
    EXPECT_EQ(loaded.AutoStartConvert, 1u);
}
