#pragma once
// The IBaseFilter boilerplate shared by every in-house filter. A filter supplies its pins and a few
// hooks (start and stop of streaming, run); the base keeps the state, the clock and the graph. It
// also answers IAMFilterMiscFlags for filters that have flags, and IMediaSeeking for those that
// name an object for it.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <atomic>
#include <string>

#include "filters/ModuleLock.h"
#include "base/ScopedWin.h"

class CBasePin;

class CBaseFilter : public IBaseFilter, public IAMFilterMiscFlags {
public:
    CBaseFilter(const CBaseFilter&) = delete;
    CBaseFilter& operator=(const CBaseFilter&) = delete;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IPersist
    STDMETHODIMP GetClassID(CLSID* classId) override;
    // IMediaFilter
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;
    STDMETHODIMP GetState(DWORD timeoutMs, FILTER_STATE* state) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter
    STDMETHODIMP EnumPins(IEnumPins** pins) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* vendorInfo) override;
    // IAMFilterMiscFlags, offered only when MiscFlags() is not 0.
    STDMETHODIMP_(ULONG) GetMiscFlags() override { return MiscFlags(); }

    // The pins in EnumPins order; called with the state lock held.
    virtual int PinCount() = 0;
    virtual CBasePin* PinAt(int index) = 0;
    // Changes whenever the set of pins changes, so open enumerators report VFW_E_ENUM_OUT_OF_SYNC.
    LONG PinVersion() const { return pinVersion_.load(); }

    // Guards state, connections and the graph. Never taken while the streaming lock is held.
    CriticalSection& StateLock() { return stateLock_; }
    // Held by input pins while they process a sample or an end-of-stream; Stop takes it to drain them.
    CriticalSection& StreamingLock() { return streamingLock_; }
    FILTER_STATE State() const { return state_.load(); }
    // Hands an event to the graph's IMediaEventSink; E_UNEXPECTED outside a graph.
    HRESULT NotifyEvent(long code, LONG_PTR param1, LONG_PTR param2);

protected:
    explicit CBaseFilter(const CLSID& classId);
    virtual ~CBaseFilter();

    void PinsChanged() { ++pinVersion_; }
    // The filter's IMediaSeeking, whose references go to the filter; set once while it is built.
    void SetSeeking(IMediaSeeking* seeking) { seeking_ = seeking; }

    // Hooks, called with the state lock held.
    // Further interfaces the filter offers; *object is already null.
    virtual HRESULT QueryFilterInterface(REFIID iid, void** object);
    // AM_FILTER_MISC_FLAGS_IS_RENDERER or _IS_SOURCE.
    virtual ULONG MiscFlags() { return 0; }
    // Stopped -> paused, before the pins become active.
    virtual HRESULT OnStartStreaming() { return S_OK; }
    // Stopped -> paused, once the pins are active and the state is paused: a source's streaming
    // starts here. A failure stops the filter again.
    virtual HRESULT OnActive() { return S_OK; }
    // -> stopped, after the pins went inactive and any Receive in progress has returned.
    virtual void OnStopStreaming() {}
    // Paused -> running, with the stream time base the graph chose.
    virtual HRESULT OnRun(REFERENCE_TIME start);
    // Running -> paused.
    virtual HRESULT OnPauseFromRun() { return S_OK; }

private:
    HRESULT PauseLocked();
    void StopLocked();

    std::atomic<ULONG> references_{1};
    const CLSID classId_;
    CriticalSection stateLock_;
    CriticalSection streamingLock_;
    std::atomic<FILTER_STATE> state_{State_Stopped};
    Microsoft::WRL::ComPtr<IReferenceClock> clock_;
    // Weak: the graph holds the filter, and a reference back would keep both alive.
    std::atomic<IFilterGraph*> graph_{nullptr};
    std::wstring name_;
    std::atomic<LONG> pinVersion_{1};
    IMediaSeeking* seeking_ = nullptr;
    CModuleObject moduleObject_;
};
