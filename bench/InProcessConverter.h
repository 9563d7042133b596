#pragma once
// Halvern's converting parts in a measuring program, wired as the program wires them, with the
// runs' reports counted instead of shown.

#include "autoconv/AutoConverter.h"
#include "convert/ConversionEngine.h"
#include "convert/InternalGraph.h"
#include "tests/support/TestSupport.h"

#include <atomic>
#include <functional>
#include <string>

class CInProcessConverter : public IConversionObserver {
public:
    // programDirectory: where graph description files are read; passDone: after each pass of the
    // Auto Converter.
    CInProcessConverter(const std::string& programDirectory, std::function<void()> passDone = {})
        : engine_(graphs_, *this), autoConverter_(engine_, Options(std::move(passDone)))
    {
        graphs_.ProgramDirectory = testing_support::Wide(programDirectory);
        const std::wstring lock =
            testing_support::Wide(testing_support::MakeScratchDirectory("bench-graph")) + InternalGraphFileName;
        OpenInternalGraph(lock.c_str(), lockFile_, graphs_.InternalGraph);
    }

    CConversionEngine& Engine() { return engine_; }
    CAutoConverter& AutoConverter() { return autoConverter_; }

    // Runs whose graph was built and is running, and the last report shown.
    std::atomic<int> GraphsBuilt{0};
    std::wstring LastReport;
    std::function<void()> OnBuilt;

    void OnConversionStarted(LONG) override {}
    void OnGraphBuilt(const std::wstring& report) override
    {
        if (OnBuilt)
            OnBuilt();
        LastReport = report;
        ++GraphsBuilt;
    }
    void OnProgressRange(LONG) override {}
    void OnProgressPosition(LONG) override {}
    void OnConversionFinished(bool, const std::wstring& report, bool) override { LastReport = report; }

private:
    static CAutoConverter::Options Options(std::function<void()> passDone)
    {
        CAutoConverter::Options options;
        options.Output = [](const wchar_t*) {};
        options.PassDone = std::move(passDone);
        return options;
    }

    CStdioFile lockFile_;
    GraphSource graphs_;
    CConversionEngine engine_;
    CAutoConverter autoConverter_;
};
