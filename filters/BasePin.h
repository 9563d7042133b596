#pragma once
// What input and output pins share: the connection, its media type, and the pin's identity.
// A pin is part of its filter: references to the pin count on the filter.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <string>

#include "filters/MediaType.h"

class CBaseFilter;

class CBasePin : public IPin {
public:
    CBasePin(const CBasePin&) = delete;
    CBasePin& operator=(const CBasePin&) = delete;
    virtual ~CBasePin();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IPin; the direction-specific methods fail here and are overridden by input or output pins.
    STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override;
    STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    const std::wstring& Name() const { return name_; }
    PIN_DIRECTION Direction() const { return direction_; }
    CBaseFilter* Filter() const { return filter_; }
    // Connection state; stable while the filter is not stopped, else read under the state lock.
    bool IsConnected() const { return peer_ != nullptr; }
    IPin* Peer() const { return peer_.Get(); }
    const CMediaType& ConnectedType() const { return type_; }

    // Hooks.
    // S_OK when the pin takes the type; anything else refuses it.
    virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) = 0;
    // The pin's preferred types in order; VFW_S_NO_MORE_ITEMS past the last one.
    virtual HRESULT GetMediaType(int index, CMediaType& type);
    // Stopped -> paused and back, with the filter's state lock held.
    virtual HRESULT Active() { return S_OK; }
    virtual void Inactive() {}

protected:
    // What both ends check before a connection is made; call with the filter's state lock held.
    HRESULT CheckCanConnect(IPin* peer, PIN_DIRECTION peerDirection) const;
    CBasePin(CBaseFilter* filter, const wchar_t* name, PIN_DIRECTION direction);

    // The pin's IMediaSeeking, whose references go to the pin; set once while it is built.
    void SetSeeking(IMediaSeeking* seeking) { seeking_ = seeking; }
    // Further interfaces the pin offers; *object is already null.
    virtual HRESULT QueryPinInterface(REFIID iid, void** object);
    // After both sides agreed on the type; a failure undoes the connection.
    virtual HRESULT CompleteConnect(IPin* peer);
    virtual void BreakConnect() {}

    // Callers hold the filter's state lock.
    void SetConnection(IPin* peer, const AM_MEDIA_TYPE& type);
    void ClearConnection();

    CBaseFilter* const filter_;

private:
    const std::wstring name_;
    const PIN_DIRECTION direction_;
    Microsoft::WRL::ComPtr<IPin> peer_;
    CMediaType type_;
    IMediaSeeking* seeking_ = nullptr;
};
