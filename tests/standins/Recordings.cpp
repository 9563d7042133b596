#include "tests/standins/Recordings.h"

#include <windows.h>

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
