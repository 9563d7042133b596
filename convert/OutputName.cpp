#include "convert/OutputName.h"

#include "convert/PathText.h"

namespace {

const char kPartialSuffix[] = ".partial";

} // namespace

std::string OutputPathFor(const std::string& outputDirectory, const std::string& inputFileName,
                          const std::string& outputExt, UINT codePage)
{
    std::string path = outputDirectory;
    if (!EndsWithBackslash(path, codePage))
        path += '\\';
    // Only the name's own dot counts; a dot in the directory never cuts the path. No code page
    // uses the dot as a trail byte, so a plain search is exact.
    const size_t dot = inputFileName.rfind('.');
    if (dot != std::string::npos)
        path.append(inputFileName, 0, dot + 1);
    path += outputExt;
    return AsWindowsNamesIt(path);
}

std::string PartialOutputPath(const std::string& outputPath)
{
    return outputPath + kPartialSuffix;
}

bool IsPartialOutputName(const std::string& fileName)
{
    const size_t suffixLength = sizeof(kPartialSuffix) - 1;
    return fileName.size() > suffixLength
        && ::lstrcmpiA(fileName.c_str() + fileName.size() - suffixLength, kPartialSuffix) == 0;
}

bool IsUsableExtension(const std::string& extension, UINT codePage)
{
    return !extension.empty() && !ContainsCharacter(extension, kNotInFileNames, codePage);
}
