#pragma once
// Stand-in for the decrypt/tag filter: "In(Enc/Tag)" passes every sample unchanged to "Out".

#include <windows.h>
#include <dshow.h>

#include <memory>

#include "filters/BaseFilter.h"

class CDecrypterInputPin;
class CDecrypterOutputPin;

class CStandInDecrypter : public CBaseFilter {
public:
    static HRESULT Create(IUnknown** object);

    int PinCount() override;
    CBasePin* PinAt(int index) override;

    // For the pins.
    CDecrypterInputPin& Input() { return *input_; }
    CDecrypterOutputPin& Output() { return *output_; }

private:
    CStandInDecrypter();
    ~CStandInDecrypter() override;

    std::unique_ptr<CDecrypterInputPin> input_;
    std::unique_ptr<CDecrypterOutputPin> output_;
};
