#include "convert/ConversionRequest.h"

#include "convert/OutputName.h"
#include "convert/PathText.h"

ConversionRequest MakeConversionRequest(const CConverterSettings& settings, const std::wstring& recordingPath)
{
    const std::wstring name = FileNameOf(recordingPath);
    return ConversionRequest{recordingPath, OutputPathFor(settings.OutputPath, name, settings.OutputExt), settings.UseFilterGraph,
                             settings.OutputPath, settings.CaptionFile ? OutputPathFor(settings.OutputPath, name, L"srt") : L"",
                             settings.AfterConversion};
}
