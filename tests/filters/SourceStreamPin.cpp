#include "tests/filters/SourceStreamPin.h"

#include <process.h>

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

CSourceStreamPin::CSourceStreamPin(CBaseFilter* filter, const wchar_t* name)
    : CBaseOutputPin(filter, name), stopEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

CSourceStreamPin::~CSourceStreamPin()
{
    EndThread();
}

HRESULT CSourceStreamPin::Active()
{
    if (!IsConnected())
        return S_OK;
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr))
        return hr;
    ::ResetEvent(stopEvent_.Get());
    // _beginthreadex rather than CreateThread: the thread uses the C runtime.
    const uintptr_t thread = ::_beginthreadex(nullptr, 0, &CSourceStreamPin::ThreadProc, this, 0, nullptr);
    if (!thread) {
        CBaseOutputPin::Inactive();
        return E_OUTOFMEMORY;
    }
    thread_.Reset(reinterpret_cast<HANDLE>(thread));
    return S_OK;
}

void CSourceStreamPin::Inactive()
{
    ::SetEvent(stopEvent_.Get());
    // Decommitting wakes a GetBuffer that waits for a free buffer.
    CBaseOutputPin::Inactive();
    EndThread();
}

void CSourceStreamPin::EndThread()
{
    if (!thread_)
        return;
    ::SetEvent(stopEvent_.Get());
    ::WaitForSingleObject(thread_.Get(), INFINITE);
    thread_.Reset();
}

bool CSourceStreamPin::WaitUnlessStopping(DWORD milliseconds)
{
    return ::WaitForSingleObject(stopEvent_.Get(), milliseconds) == WAIT_TIMEOUT;
}

bool CSourceStreamPin::StopRequested() const
{
    return ::WaitForSingleObject(stopEvent_.Get(), 0) == WAIT_OBJECT_0;
}

unsigned __stdcall CSourceStreamPin::ThreadProc(void* context)
{
    static_cast<CSourceStreamPin*>(context)->StreamLoop();
    return 0;
}

void CSourceStreamPin::StreamLoop()
{
    while (!StopRequested()) {
        ComPtr<IMediaSample> sample;
        // Fails once Stop decommitted the allocator.
        if (FAILED(GetDeliveryBuffer(&sample)))
            break;
        const HRESULT hr = FillSample(sample.Get());
        if (StopRequested())
            break;
        if (hr != S_OK) {
            DeliverEndOfStream();
            break;
        }
        // Anything but S_OK means downstream wants no more: it is stopping or flushing.
        if (Deliver(sample.Get()) != S_OK)
            break;
    }
    OnThreadEnd();
}
