#pragma once
// What Halvern's multiplexer filters share: "Video In" and "Audio In", "Audio In 2"... (a free one
// appears as each is connected, up to eight) become one stream on "Output". The elementary streams
// pass untouched; the interleaving and timing are the multiplexer's the filter is made with. Inputs
// that run far ahead of a silent one wait for it a while, then go on without it. Line-21 pairs on
// "Captions In" go into the video's user data or SEI (captions::CCaptionInserter) unless it carries
// captions of its own; asked to, the filter writes the captions as a SubRip file too.

#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <memory>
#include <vector>

#include "builtin/CaptionFile.h"
#include "builtin/MuxInputPin.h"
#include "builtin/MuxOutputPin.h"
#include "filters/BaseFilter.h"
#include "media/captions/CaptionInserter.h"
#include "media/captions/DisplayOrder.h"
#include "media/captions/Eia608Decoder.h"
#include "media/mpeg/MuxPlanning.h"
#include "media/mpeg/VideoRunCounter.h"

class CMuxFilter : public CBaseFilter, private IMuxInputEvents, private captions::IVideoOut {
public:
    int PinCount() override;
    CBasePin* PinAt(int index) override;

protected:
    // The output's subtype says which stream the multiplexer writes.
    CMuxFilter(const CLSID& classId, const GUID& outputSubtype);
    ~CMuxFilter() override;

    // The derived filter's multiplexer, which writes through WriteOutput.
    virtual mpeg::IMultiplexer& Multiplexer() = 0;
    // After a connected input was given its stream for the run.
    virtual void OnStreamAdded(int, const CMuxInputPin&) {}
    // Why a run with this coding cannot be: S_OK when it can. A graph connects every coding the
    // pins take, so that it is built as described rather than rendered some other way.
    virtual HRESULT Refuse(mpeg::Coding) const { return S_OK; }
    // Room for the next `size` bytes of output straight in the output sample, which the multiplexer
    // builds them in and then hands to WriteOutput: no copy. Null when there is none to be had.
    uint8_t* OutputRoom(size_t size) { return output_->Room(size); }
    bool WriteOutput(const uint8_t* data, size_t size);
    // Where the next runs write the captions as SubRip (the ICaptionFileSink of the derived filter).
    HRESULT SetCaptionPath(LPCWSTR path);
    // The caption pairs with something in them the last run could not carry into the video.
    HRESULT CaptionPairsLost(ULONG* lost) const;
    // Whether captions go into the video in the DVD layout rather than as A/53 user data.
    bool DvdLayout(const mpeg::VideoFacts&) override { return false; }

    HRESULT OnStartStreaming() override;
    void OnStopStreaming() override;

private:
    struct Input {
        std::unique_ptr<CMuxInputPin> pin;
        int stream = -1; // the multiplexer's, for this run; -1 when not connected
    };

    bool OnVideo(const mpeg::ByteRange* pieces, size_t count, int64_t time) override;
    HRESULT ReceiveCaptions(IMediaSample* sample);
    HRESULT OnReceive(CMuxInputPin& pin, IMediaSample* sample) override;
    HRESULT OnEndOfStream(CMuxInputPin& pin) override;
    HRESULT OnBeginFlush() override;
    HRESULT OnEndFlush() override;
    void OnWaitForRoom(CMuxInputPin& pin) override;
    bool OnLendRoom(CMuxInputPin& pin, size_t size, std::shared_ptr<void>& keep, BYTE*& room) override;
    void OnWaitForOthers(CMuxInputPin& pin) override;
    void OnConnectionChanged(CMuxInputPin& pin, bool connected) override;

    void AddAudioPin();
    // Forgets the last run and sets the multiplexer up for the inputs that are connected; fails
    // when the multiplexer cannot take one of them.
    HRESULT StartRun();
    int StreamOf(const CMuxInputPin& pin) const;
    // Whether the multiplexer waits for an input other than `pin` that may still deliver.
    bool OthersWaitedFor(const CMuxInputPin& pin);
    // Whether the pin's sample waits: it is far ahead of an input the multiplexer waits for.
    bool MustWait(CMuxInputPin& pin);
    // Whether the pin's end waits: an input the multiplexer waits for has nothing queued, as one
    // whose streaming thread has not started yet.
    bool OthersSilent(CMuxInputPin& pin);
    // Waits while `condition` holds, for StallTimeoutMs at most; the others are then not waited
    // for when `giveUp`.
    void WaitWhile(CMuxInputPin& pin, bool (CMuxFilter::*condition)(CMuxInputPin&), bool giveUp);
    // After the multiplexer worked: wakes waiting inputs, and ends the output once all is out.
    HRESULT Progress(bool ok);
    void Signal();

    // Video first, then audio in pin order. Pins are never removed, as the graph may hold them;
    // the room for all is reserved, so the pins' records never move.
    std::vector<Input> inputs_;
    // Audio pins offered: up to the last connected one and one free one. Under the state lock.
    size_t offeredAudio_ = 1;
    std::unique_ptr<CMuxInputPin> captions_;
    std::unique_ptr<CMuxOutputPin> output_;
    // Under the streaming lock. The video goes through the inserter when captions are connected
    // or a caption file is wanted; else straight to the multiplexer, as it always has.
    CCaptionFile captionFile_;
    size_t jumpsTold_ = 0; // the video's closed jumps told to the caption file
    captions::CEia608Decoder decoder_{captionFile_};
    captions::CDisplayOrder displayOrder_{decoder_};
    captions::CCaptionInserter inserter_{*this, &displayOrder_};
    mpeg::CVideoRunCounter videoRun_; // of MPEG-2 video as it arrives, while the inserter holds it
    bool throughInserter_ = false;
    bool avcVideo_ = false;
    int videoStream_ = -1;
    HRESULT outputResult_ = S_OK;
    bool endSent_ = false;
    std::atomic<ULONG> captionPairsLost_{0};
};
