#pragma once
// Halvern's MPEG-2 program stream multiplexer: "Video In" (MPEG-2 video) and "Audio In" (MPEG
// audio or AC-3) become DVD-style 2048-byte packs on "Output". The elementary streams pass
// untouched; the interleaving and timing are mpeg::CProgramStreamMultiplexer's.

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <memory>

#include "filters/BaseFilter.h"
#include "filters/FilterObject.h"
#include "media/mpeg/Multiplexer.h"

class CMuxInputPin;
class CMuxOutputPin;

class CProgramStreamMux : public CFilterObject<CProgramStreamMux, CBaseFilter>, private mpeg::IPackSink {
public:
    CProgramStreamMux();

    int PinCount() override;
    CBasePin* PinAt(int index) override;

    // Places in this run's input that could not be parsed (bad picture headers, lost audio sync);
    // their bytes went out as data all the same.
    ULONG DamagedSamples() const { return damaged_.load(); }

    // For the input pins, with the streaming lock held.
    HRESULT Receive(CMuxInputPin& pin, IMediaSample* sample);
    HRESULT EndOfStream(CMuxInputPin& pin);
    HRESULT BeginFlush();
    HRESULT EndFlush();
    // For an input pin before it takes the streaming lock: returns once the pin may deliver.
    void WaitForRoom(CMuxInputPin& pin);

protected:
    HRESULT OnStartStreaming() override;
    void OnStopStreaming() override;

private:
    // Only Release deletes it.
    ~CProgramStreamMux() override;

    bool WritePack(const uint8_t* pack) override;
    // Forgets the last run and sets the multiplexer up for the inputs that are connected.
    void StartRun();
    int StreamOf(const CMuxInputPin& pin) const;
    CMuxInputPin& Other(const CMuxInputPin& pin);
    bool MustWait(CMuxInputPin& pin);
    // After the multiplexer worked: wakes waiting inputs, and ends the output once all is out.
    HRESULT Progress(bool ok);
    void Signal();

    std::unique_ptr<CMuxInputPin> video_;
    std::unique_ptr<CMuxInputPin> audio_;
    std::unique_ptr<CMuxOutputPin> output_;
    // Under the streaming lock.
    mpeg::CProgramStreamMultiplexer multiplexer_;
    int videoStream_ = -1;
    int audioStream_ = -1;
    HRESULT outputResult_ = S_OK;
    bool endSent_ = false;
    std::atomic<ULONG> damaged_{0};
};
