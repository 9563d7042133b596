#pragma once
// What one run converts, made from the settings the same way by every command that converts.

#include "settings/ConverterSettings.h"

#include <string>

// The settings the run uses are copied when it is asked for: "Apply Settings" may rewrite the
// settings on the window's thread while the run goes on.
struct ConversionRequest {
    std::wstring inputPath;
    std::wstring outputPath;
    std::wstring graphChoice;
    // The output path must name a file directly in this directory (the OutputPath setting).
    std::wstring outputDirectory;
    // Where the recording's captions go as SubRip (the CaptionFile setting); empty for none.
    std::wstring captionPath = {};
    // Run after a successful conversion (the AfterConversion setting, placeholders unreplaced); empty: none.
    std::wstring afterConversion{};
};

// The request that converts the recording with the settings: its output is named after it in the
// output directory, with the output extension, and made with the chosen graph; with CaptionFile
// set, its captions go beside it named like it with ".srt".
ConversionRequest MakeConversionRequest(const CConverterSettings& settings, const std::wstring& recordingPath);
