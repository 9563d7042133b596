#pragma once
// Pieces of the conversion run that the single-file command and the tests reach directly.

#include <windows.h>

#include <string>

class CConverterApp;

// What one run converts, with the settings it uses copied when it was asked for: "Apply Settings"
// may rewrite the settings on the window's thread while the run goes on.
struct ConversionRequest {
    std::string inputPath;
    std::string outputPath;
    std::string graphChoice;
    // Besides the cancel command, this event ends the run early (the Auto Converter's stop).
    HANDLE stopEvent = nullptr;
    // The output path must name a file directly in this directory (the OutputPath setting).
    std::string outputDirectory;
};

// The waits of a run. The program never changes them; tests shorten them.
struct ConversionTimings {
    DWORD ProgressStepMs = 5000;
    // A graph whose output has not grown for this long is taken for stuck and cancelled.
    DWORD StallMs = 10 * 60 * 1000;
};
ConversionTimings& ConversionTiming();

// What a single-file conversion thread converts. The thread owns it: it carries its own request,
// so a later command can set the application's paths while this run still reads them, and the
// claim on ConversionBusy that StartSingleConversion made for it.
struct SingleConversionJob {
    CConverterApp* app;
    ConversionRequest request;
    LONG claim;
};

// The thread function of a single-file conversion; parameter is a SingleConversionJob made with new.
unsigned __stdcall SingleConvertThread(void* parameter);

// Seconds cut toward zero, held to the range of a LONG (NaN gives 0).
LONG WholeSeconds(double seconds);

// True when both paths name one file: equal full paths regardless of letter case, or, when both
// exist, one file reached by two names.
bool NamesSameFile(const std::string& first, const std::string& second);

// Stakes a claim on ConversionBusy when it is clear; gives the claim's nonzero mark, or 0 when
// another run holds it.
LONG ClaimConversion(CConverterApp& app);

// Clears ConversionBusy only if it still holds this claim: a cancel clears it, and a run that
// started after the cancel has put its own claim there.
void ReleaseConversionClaim(CConverterApp& app, LONG claim);
