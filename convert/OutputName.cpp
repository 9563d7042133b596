#include "convert/OutputName.h"

#include "convert/PathText.h"

namespace {

const wchar_t kPartialSuffix[] = L".partial";

} // namespace

std::wstring OutputPathFor(const std::wstring& outputDirectory, const std::wstring& inputFileName,
                           const std::wstring& outputExt)
{
    std::wstring path = WithTrailingBackslash(outputDirectory);
    // Only the name's own dot counts; a dot in the directory never cuts the path.
    const size_t dot = inputFileName.rfind(L'.');
    if (dot != std::wstring::npos)
        path.append(inputFileName, 0, dot + 1);
    path += outputExt;
    return AsWindowsNamesIt(path);
}

std::wstring PartialOutputPath(const std::wstring& outputPath)
{
    return outputPath + kPartialSuffix;
}

bool IsPartialOutputName(const std::wstring& fileName)
{
    return HasExtension(fileName, kPartialSuffix + 1);
}

bool IsUsableExtension(const std::wstring& extension)
{
    return !extension.empty() && !ContainsCharacter(extension, kNotInFileNames);
}
