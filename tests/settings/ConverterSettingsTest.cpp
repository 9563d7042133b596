#include "framework/WinApp.h"
#include "settings/ConverterSettings.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

using namespace testing_support;

namespace {

const char RecordingKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Media Center\\Service\\Recording";
const char AppKey[] = "Software\\Morrowick\\settings_test";

auto Fields(const CConverterSettings& s)
{
    return std::tie(s.InputPath, s.OutputPath, s.InputExt, s.OutputExt, s.UseFilterGraph, s.DeleteSourceFile,
                    s.HideOnStartup, s.AutoStartConvert, s.CaptionFile);
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
        DeleteRegistryTree(RecordingKey, HKEY_LOCAL_MACHINE);
        DeleteRegistryTree(AppKey);
    }
    CWinApp profile; // named after this program
};

TEST_F(SettingsTest, DefaultsWithoutTheMediaCentre)
{
    const CConverterSettings expected = {L"C:\\", L"C:\\", L"DVR-MS", L"MPG", L"<Internal DVR to MPG graph>", 0, 0, 0};
    EXPECT_EQ(Fields(CConverterSettings::Defaults()), Fields(expected));
}

// Stored as raw bytes: with or without a terminator, of another type, or with variables in it.
TEST_F(SettingsTest, DefaultPathsTakeOnlyAWholeRecordingDirectory)
{
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
        ASSERT_EQ(::RegSetKeyValueA(HKEY_LOCAL_MACHINE, RecordingKey, "RecordPath", r.type, data.data(),
                                    static_cast<DWORD>(r.bytes.size())),
                  ERROR_SUCCESS);
        const CConverterSettings defaults = CConverterSettings::Defaults();
        EXPECT_EQ(defaults.InputPath, Wide(r.expected));
        EXPECT_EQ(defaults.OutputPath, Wide(r.expected));
    }
}

const CConverterSettings Saved = {L"E:\\In", L"E:\\Out\\", L"ts", L"mpeg", L"Mine.xgr", 2, 3, 4, 1};

TEST_F(SettingsTest, SaveWritesAllNineValues)
{
    Saved.Save(profile);
    const char* const texts[][2] = {{"InputPath", "E:\\In"}, {"OutputPath", "E:\\Out\\"}, {"InputExt", "ts"},
                                    {"OutputExt", "mpeg"}, {"UseFilterGraph", "Mine.xgr"}};
    for (const auto& value : texts) {
        std::string text;
        EXPECT_TRUE(ReadRegistryString(AppKey, value[0], text) && text == value[1]) << value[0] << " " << text;
    }
    const std::pair<const char*, DWORD> numbers[] = {
        {"DeleteSourceFile", 2}, {"HideOnStartup", 3}, {"AutoStartConvert", 4}, {"CaptionFile", 1}};
    for (const auto& [name, expected] : numbers) {
        DWORD number = 0;
        EXPECT_TRUE(ReadRegistryDword(AppKey, name, number) && number == expected) << name << " " << number;
    }
}

TEST_F(SettingsTest, LoadKeepsWhatTheProfileLacks)
{
    Saved.Save(profile);
    ::RegDeleteKeyValueA(HKEY_CURRENT_USER, AppKey, "OutputPath");
    ::RegDeleteKeyValueA(HKEY_CURRENT_USER, AppKey, "HideOnStartup");
    ::RegDeleteKeyValueA(HKEY_CURRENT_USER, AppKey, "CaptionFile");
    CConverterSettings loaded = {L"", L"F:\\Kept", L"", L"", L"", 0, 7, 0, 5};
    loaded.Load(profile);
    const CConverterSettings expected = {L"E:\\In", L"F:\\Kept", L"ts", L"mpeg", L"Mine.xgr", 2, 7, 4, 5};
    EXPECT_EQ(Fields(loaded), Fields(expected));
}

// Settings that the ANSI Halvern stored (REG_SZ strings written by RegSetValueExA in the system's
// code page) load as the characters it stored, a Western system's accented letters included; saved
// again, the ANSI functions read them back byte for byte. (The wide program's own values in any
// script: the round trip below.)
TEST_F(SettingsTest, ValuesStoredByTheAnsiProgramLoadTheSame)
{
    if (::GetACP() != 1252)
        GTEST_SKIP() << "the accented letters stand for a Western system's code page";
    const struct {
        const char* name;
        std::string ansi;
        std::wstring loaded;
    } texts[] = {
        {"InputPath", "D:\\Recorded TV\\Caf\xE9", L"D:\\Recorded TV\\Café"},
        {"OutputPath", "E:\\Vid\xE9os\\", L"E:\\Vidéos\\"},
        {"InputExt", "dvr-ms", L"dvr-ms"},
        {"OutputExt", "MPG", L"MPG"},
        {"UseFilterGraph", "Caf\xE9 au lait.xgr", L"Café au lait.xgr"},
    };
    for (const auto& text : texts)
        ASSERT_TRUE(SetRegistryString(AppKey, text.name, text.ansi)) << text.name;
    SetRegistryDword(AppKey, "AutoStartConvert", 1);

    CConverterSettings loaded;
    loaded.Load(profile);
    const CConverterSettings expected = {texts[0].loaded, texts[1].loaded, texts[2].loaded, texts[3].loaded,
                                         texts[4].loaded, 0, 0, 1};
    EXPECT_EQ(Fields(loaded), Fields(expected));

    loaded.Save(profile);
    for (const auto& text : texts) {
        std::string stored;
        EXPECT_TRUE(ReadRegistryString(AppKey, text.name, stored)) << text.name;
        EXPECT_EQ(stored, text.ansi) << text.name;
    }
}

// The wide program's values, in any script, come back as they were saved.
TEST_F(SettingsTest, ValuesInAnyScriptComeBackAsSaved)
{
    const CConverterSettings saved = {L"D:\\Записи\\録画", L"E:\\Видео \U0001F4FA\\", L"dvr-ms", L"MPG",
                                      L"Граф \U0001F4FA.xgr", 1, 0, 1};
    saved.Save(profile);
    CConverterSettings loaded;
    loaded.Load(profile);
    EXPECT_EQ(Fields(loaded), Fields(saved));
}

} // namespace
