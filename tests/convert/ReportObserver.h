#pragma once
// An observer that keeps the last report of a run, in UTF-8, for a failure to show.

#include <string>

#include "convert/ConversionObserver.h"
#include "tests/support/TestSupport.h"

class ReportObserver : public IConversionObserver {
public:
    void OnConversionStarted(LONG) override {}
    void OnGraphBuilt(const std::wstring&) override {}
    void OnProgressRange(LONG) override {}
    void OnProgressPosition(LONG) override {}
    void OnConversionFinished(bool, const std::wstring& text, bool) override { report = testing_support::Utf8(text); }
    std::string report;
};
