#include "tests/standins/Recordings.h"

#include <windows.h>

#include "tests/media/AsfBytes.h"
#include "tests/support/ProgramStreamCheck.h"
#include "tests/support/TestSupport.h"

::testing::AssertionResult CopyRecording(const std::wstring& path)
{
    const std::string vector = testing_support::VectorPath("plain-mp2.asf");
    if (!::CopyFileW(testing_support::Wide(vector).c_str(), path.c_str(), FALSE))
        return ::testing::AssertionFailure() << "cannot copy " << vector << " to " << testing_support::Utf8(path) << ": "
                                             << ::GetLastError();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult CopyRecording(const std::wstring& path, const std::vector<std::pair<std::string, std::wstring>>& attributes)
{
    static const GUID extendedContentDescription = {0xD2D0A440, 0xE307, 0x11D2, {0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50}};
    std::string bytes = testing_support::ReadFileBytes(testing_support::Wide(testing_support::VectorPath("plain-mp2.asf")));
    if (bytes.size() < 30)
        return ::testing::AssertionFailure() << "no plain-mp2.asf";
    test_recordings::Bytes body;
    body.U16(static_cast<uint32_t>(attributes.size()));
    for (const auto& attribute : attributes)
        body.Utf16(attribute.first).U16(0).Utf16(attribute.second);
    const std::string object = test_recordings::Object(extendedContentDescription, body.s);
    // The header object's size and its count of children grow by the object put first among them.
    const auto add = [&](size_t at, size_t width, uint64_t more) {
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i)
            value |= static_cast<uint64_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
        value += more;
        for (size_t i = 0; i < width; ++i)
            bytes[at + i] = static_cast<char>(value >> (8 * i));
    };
    add(16, 8, object.size());
    add(24, 4, 1);
    bytes.insert(30, object);
    testing_support::WriteFileBytes(path, bytes);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult CopyRecording(const std::string& path)
{
    return CopyRecording(testing_support::Wide(path));
}

bool MakeVectorsIfNeeded(const std::string& script)
{
    if (testing_support::VectorPath("plain-mp2.asf").empty()) {
        const char directory[] = "/tmp/halvern-bench-vectors";
        testing_support::ToolOutput output;
        testing_support::RunLinuxTool("/bin/sh " + script + " " + directory, output, 600000);
        ::SetEnvironmentVariableA("HALVERN_VECTORS", directory);
    }
    return testing_support::FileExists(testing_support::VectorPath("plain-mp2.asf"));
}

::testing::AssertionResult IsProgramStream(const std::wstring& path)
{
    const std::string bytes = testing_support::ReadFileBytes(path);
    if (bytes.size() <= 2048 || bytes.compare(0, 4, std::string("\0\0\1\xBA", 4)) != 0)
        return ::testing::AssertionFailure() << testing_support::Utf8(path) << " is no program stream (" << bytes.size()
                                             << " bytes)";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult IsProgramStream(const std::string& path)
{
    return IsProgramStream(testing_support::Wide(path));
}

::testing::AssertionResult IsSoundProgramStream(const std::string& path)
{
    const std::string bytes = testing_support::ReadFileBytes(path);
    const ps_check::Report report = ps_check::CheckProgramStream(bytes);
    if (!report.Clean())
        return ::testing::AssertionFailure() << path << " breaks the program stream rules:\n" << report.Text();
    return ::testing::AssertionSuccess();
}
