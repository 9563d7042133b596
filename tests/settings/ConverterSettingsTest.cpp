#include "framework/WinApp.h"
#include "settings/ConverterSettings.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

using namespace testing_support;

namespace {

const char kRecordingKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media Center\\Service\\Recording";
const char kAppKey[] = "Software\\Morrowick\\settings_test";

auto Fields(const CConverterSettings& s)
{
    return std::tie(s.InputPath, s.OutputPath, s.InputExt, s.OutputExt, s.UseFilterGraph, s.DeleteSourceFile,
                    s.HideOnStartup, s.AutoStartConvert);
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TearDown();
        profile.SetRegistryKey(L"Morrowick");
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
    const CConverterSettings expected = {L"C:\\", L"C:\\", L"DVR-MS", L"MPG", L"<Internal DVR to MPG graph>", 0, 0, 0};
    EXPECT_EQ(Fields(CConverterSettings::Defaults()), Fields(expected)) << "without the media centre's key";

    // Stored as raw bytes: with or without a terminator, of another type, or with variables in it.
    ::SetEnvironmentVariableA("HALVERN_TEST_DRIVE", "F:");
    const struct { DWORD type; std::string bytes, expected; } raw[] = {
        {REG_SZ, std::string("D:\\Recorded TV", 15), "D:\\Recorded TV"},
        {REG_SZ, std::string(255, 'r') + '\0', std::string(255, 'r')}, // 255 characters and the NUL fit
        {REG_SZ, std::string(256, 'r') + '\0', "C:\\"},
        {REG_SZ, std::string(256, 'u'), "C:\\"},            // fills the buffer: too long
        {REG_SZ, "E:\\Unterminated", "E:\\Unterminated"}, // ended by the reader where there is room
        {REG_EXPAND_SZ, std::string("%HALVERN_TEST_DRIVE%\\TV", 24), "F:\\TV"},
        {REG_BINARY, std::string("D:\\Binary", 10), "C:\\"},
    };
    for (const auto& r : raw) {
        SCOPED_TRACE(r.expected + " from type " + std::to_string(r.type));
        // Followed by a byte that is no NUL, lest the registry count a terminator it finds after them.
        const std::string data = r.bytes + '!';
        ASSERT_EQ(::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kRecordingKey, "RecordPath", r.type, data.data(),
                                    static_cast<DWORD>(r.bytes.size())),
                  ERROR_SUCCESS);
        const CConverterSettings defaults = CConverterSettings::Defaults();
        EXPECT_EQ(defaults.InputPath, Wide(r.expected));
        EXPECT_EQ(defaults.OutputPath, Wide(r.expected));
    }
}

TEST_F(SettingsTest, SaveWritesAllEightValuesAndLoadKeepsWhatTheProfileLacks)
{
    const CConverterSettings saved = {L"E:\\In", L"E:\\Out\\", L"ts", L"mpeg", L"Mine.xgr", 2, 3, 4};
    saved.Save(profile);
    const char* const texts[][2] = {{"InputPath", "E:\\In"}, {"OutputPath", "E:\\Out\\"}, {"InputExt", "ts"},
                                    {"OutputExt", "mpeg"}, {"UseFilterGraph", "Mine.xgr"}};
    for (const auto& value : texts) {
        std::string text;
        EXPECT_TRUE(ReadRegistryString(kAppKey, value[0], text) && text == value[1]) << value[0] << " " << text;
    }
    const std::pair<const char*, DWORD> numbers[] = {
        {"DeleteSourceFile", 2}, {"HideOnStartup", 3}, {"AutoStartConvert", 4}};
    for (const auto& [name, expected] : numbers) {
        DWORD number = 0;
        EXPECT_TRUE(ReadRegistryDword(kAppKey, name, number) && number == expected) << name << " " << number;
    }

    ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kAppKey, "OutputPath");
    ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kAppKey, "HideOnStartup");
    CConverterSettings loaded = {L"", L"F:\\Kept", L"", L"", L"", 0, 7, 0};
    loaded.Load(profile);
    const CConverterSettings expected = {L"E:\\In", L"F:\\Kept", L"ts", L"mpeg", L"Mine.xgr", 2, 7, 4};
    EXPECT_EQ(Fields(loaded), Fields(expected));
}

} // namespace
