#pragma once
// Stand-in for the decrypt/tag filter: "In(Enc/Tag)" passes every sample unchanged to "Out".
// It is also where tests inject the faults the built-in filters never show: at each start of
// streaming it reads HALVERN_DECRYPT_FAULT (see StandIns.h), so a black-box Halvern.exe inherits
// the fault from its test and an in-process test sets it for a moment.

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <memory>

#include "filters/BaseFilter.h"
#include "tests/standins/StandIns.h"

class CDecrypterInputPin;
class CDecrypterOutputPin;

class CStandInDecrypter : public CBaseFilter {
public:
    static HRESULT Create(IUnknown** object);

    // Kept, since the fault may depend on the graph's recording.
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;

    int PinCount() override;
    CBasePin* PinAt(int index) override;

    // For the pins.
    CDecrypterInputPin& Input() { return *input_; }
    CDecrypterOutputPin& Output() { return *output_; }
    const DecrypterFault& Fault() const { return fault_; }
    // Wall milliseconds since the graph ran; 0 until it runs. Halvern never pauses a running graph.
    ULONGLONG RunningMilliseconds() const;

protected:
    HRESULT OnStartStreaming() override;
    HRESULT OnRun(REFERENCE_TIME start) override;

private:
    CStandInDecrypter();
    ~CStandInDecrypter() override;

    std::unique_ptr<CDecrypterInputPin> input_;
    std::unique_ptr<CDecrypterOutputPin> output_;
    DecrypterFault fault_;
    IFilterGraph* graph_ = nullptr; // weak, as the base's
    std::atomic<ULONGLONG> runningSince_{0};
};
