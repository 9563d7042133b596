#include "convert/OutputName.h"

namespace {

const char kPartialSuffix[] = ".partial";

} // namespace

bool EndsWithBackslash(const std::string& text, UINT codePage)
{
    size_t last = std::string::npos;
    for (size_t position = 0; position < text.size();) {
        last = position;
        position += ::IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[position])) ? 2 : 1;
    }
    return last != std::string::npos && text[last] == '\\' && last == text.size() - 1;
}

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
    return path;
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
