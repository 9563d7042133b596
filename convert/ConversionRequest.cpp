#include "convert/ConversionRequest.h"

#include "convert/OutputName.h"
#include "convert/PathText.h"

ConversionRequest MakeConversionRequest(const CConverterSettings& settings, const std::wstring& recordingPath)
{
    return ConversionRequest{recordingPath, OutputPathFor(settings.OutputPath, FileNameOf(recordingPath), settings.OutputExt),
                             settings.UseFilterGraph, settings.OutputPath, settings.AfterConversion};
}
