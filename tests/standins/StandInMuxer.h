#pragma once
// Stand-in for the MPEG multiplexer: "Video In" and "Audio In" become one stream on "Output".
// Samples go out in start-time order, video first on equal times, so the output is the same
// whatever the timing of the two input threads: a sample leaves only once the other input
// holds a later one or has ended.

#include <windows.h>
#include <dshow.h>

#include <deque>
#include <memory>
#include <string>

#include "filters/BaseFilter.h"

class CMuxInputPin;
class CMuxOutputPin;

class CStandInMuxer : public CBaseFilter {
public:
    static HRESULT Create(IUnknown** object);

    int PinCount() override;
    CBasePin* PinAt(int index) override;

    // For the pins, with the streaming lock held.
    HRESULT Queue(CMuxInputPin& pin, IMediaSample* sample);
    HRESULT Drain();
    CMuxInputPin& VideoInput() { return *video_; }

protected:
    HRESULT OnStartStreaming() override;

private:
    struct Pending {
        char tag;
        REFERENCE_TIME start;
        REFERENCE_TIME stop;
        std::string data;
    };

    CStandInMuxer();
    ~CStandInMuxer() override;

    bool Ended(CMuxInputPin& pin) const;
    HRESULT Send(const Pending& pending);

    std::unique_ptr<CMuxInputPin> video_;
    std::unique_ptr<CMuxInputPin> audio_;
    std::unique_ptr<CMuxOutputPin> output_;
    std::deque<Pending> videoQueue_;
    std::deque<Pending> audioQueue_;
    bool headerSent_ = false;
    bool ended_ = false;
};
