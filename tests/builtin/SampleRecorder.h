#pragma once
// A renderer for tests that keeps every sample it is given: bytes, times and flags, per input
// pin, whatever the media type. It completes as a renderer does (EC_COMPLETE once every input has
// ended while running), so Wine's Filter Graph Manager can run a graph into it.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <memory>
#include <string>
#include <vector>

#include "filters/BaseRenderer.h"
#include "filters/InputPin.h"
#include "filters/MediaType.h"
#include "framework/ScopedWin.h"

struct RecordedSample {
    std::string bytes;
    bool hasTime = false;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    bool syncPoint = false;
    bool discontinuity = false;
};

class CSampleRecorder : public CBaseRenderer {
public:
    // A recorder with `pins` inputs named "In 1", "In 2", ...; it starts with one reference.
    static Microsoft::WRL::ComPtr<CSampleRecorder> Create(int pins);

    int PinCount() override;
    CBasePin* PinAt(int index) override;
    IPin* Pin(int index);

    std::vector<RecordedSample> Samples(int pin);
    bool Ended(int pin);
    CMediaType ConnectedType(int pin);

private:
    class CRecorderPin;

    explicit CSampleRecorder(int pins);
    ~CSampleRecorder() override;

    void Record(int pin, RecordedSample sample);
    void MarkEnded(int pin);

    std::vector<std::unique_ptr<CRecorderPin>> pins_;
    CriticalSection recordLock_;
    std::vector<std::vector<RecordedSample>> samples_;
    std::vector<bool> ended_;
};
