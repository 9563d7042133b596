#include "tests/filters/TestFilters.h"

#include <cstdio>
#include <cstring>

namespace filter_tests {

// {7E1C6A10-3B52-4C0E-9D55-2A61F3B0C001}
const CLSID TestSourceClsid = {0x7e1c6a10, 0x3b52, 0x4c0e, {0x9d, 0x55, 0x2a, 0x61, 0xf3, 0xb0, 0xc0, 0x01}};
// {7E1C6A10-3B52-4C0E-9D55-2A61F3B0C002}
const CLSID TestSinkClsid = {0x7e1c6a10, 0x3b52, 0x4c0e, {0x9d, 0x55, 0x2a, 0x61, 0xf3, 0xb0, 0xc0, 0x02}};

ULONG RefCount(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

CTestSourcePin::CTestSourcePin(CTestSource* source, const wchar_t* name, const SourceOptions& options)
    : CSourceStreamPin(source, name), options_(options), seeking_(static_cast<IPin*>(this))
{
    seeking_.SetDuration(options.samples * TestSampleLength);
}

HRESULT CTestSourcePin::CheckMediaType(const AM_MEDIA_TYPE& type)
{
    return type.majortype == options_.majorType ? S_OK : S_FALSE;
}

HRESULT CTestSourcePin::GetMediaType(int index, CMediaType& type)
{
    if (index != 0)
        return VFW_S_NO_MORE_ITEMS;
    type = CMediaType(options_.majorType, MEDIASUBTYPE_None);
    return S_OK;
}

HRESULT CTestSourcePin::QueryPinInterface(REFIID iid, void** object)
{
    if (iid != IID_IMediaSeeking)
        return E_NOINTERFACE;
    *object = static_cast<IMediaSeeking*>(&seeking_);
    AddRef();
    return S_OK;
}

void CTestSourcePin::GetBufferRequirements(ALLOCATOR_PROPERTIES& properties)
{
    properties.cBuffers = 2;
    properties.cbBuffer = 64;
    properties.cbAlign = 1;
}

HRESULT CTestSourcePin::OnThreadStart()
{
    next_ = 0;
    return S_OK;
}

HRESULT CTestSourcePin::FillSample(IMediaSample* sample)
{
    if (options_.holdUntilStop) {
        WaitUnlessStopping(INFINITE);
        return S_FALSE;
    }
    if (next_ == options_.failAt)
        return TestStreamError;
    if (next_ >= options_.samples)
        return S_FALSE;
    char text[32];
    const int length = std::snprintf(text, sizeof(text), "sample %d", next_);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    std::memcpy(data, text, static_cast<size_t>(length));
    sample->SetActualDataLength(length);
    REFERENCE_TIME start = next_ * TestSampleLength;
    REFERENCE_TIME stop = start + TestSampleLength;
    sample->SetTime(&start, &stop);
    seeking_.SetCurrentPosition(stop);
    ++next_;
    return S_OK;
}

CTestSource::CTestSource(const SourceOptions& options) : CBaseFilter(TestSourceClsid), options_(options)
{
    pins_.push_back(std::make_unique<CTestSourcePin>(this, L"Out", options));
}

CTestSource* CTestSource::Create(const SourceOptions& options)
{
    return new CTestSource(options);
}

int CTestSource::PinCount()
{
    return static_cast<int>(pins_.size());
}

CBasePin* CTestSource::PinAt(int index)
{
    return pins_[static_cast<size_t>(index)].get();
}

void CTestSource::AddPin(const wchar_t* name)
{
    CriticalSectionLock lock(StateLock());
    pins_.push_back(std::make_unique<CTestSourcePin>(this, name, options_));
    PinsChanged();
}

std::vector<std::string> CTestSource::Hooks()
{
    CriticalSectionLock lock(StateLock());
    return hooks_;
}

HRESULT CTestSource::OnStartStreaming()
{
    hooks_.push_back("start");
    return S_OK;
}

void CTestSource::OnStopStreaming()
{
    hooks_.push_back("stop");
}

HRESULT CTestSource::OnRun(REFERENCE_TIME)
{
    hooks_.push_back("run");
    return S_OK;
}

HRESULT CTestSource::OnPauseFromRun()
{
    hooks_.push_back("pause");
    return S_OK;
}

CTestSinkPin::CTestSinkPin(CTestSink* sink) : CBaseInputPin(sink, L"In"), sink_(sink) {}

HRESULT CTestSinkPin::CheckMediaType(const AM_MEDIA_TYPE& type)
{
    return type.majortype == MEDIATYPE_Video ? S_OK : S_FALSE;
}

HRESULT CTestSinkPin::OnReceive(IMediaSample* sample)
{
    BYTE* data = nullptr;
    HRESULT hr = sample->GetPointer(&data);
    if (FAILED(hr))
        return hr;
    ReceivedSample received{std::string(reinterpret_cast<char*>(data), static_cast<size_t>(sample->GetActualDataLength())),
                            -1, -1};
    sample->GetTime(&received.start, &received.stop);
    sink_->Record(received);
    return S_OK;
}

HRESULT CTestSinkPin::OnEndOfStream()
{
    sink_->RecordEnd();
    sink_->InputEnded();
    return S_OK;
}

CTestSink::CTestSink() : CBaseRenderer(TestSinkClsid), pin_(this)
{
    SetSeekingPin(&pin_);
}

CTestSink* CTestSink::Create()
{
    return new CTestSink();
}

std::vector<ReceivedSample> CTestSink::Received()
{
    CriticalSectionLock lock(recordLock_);
    return received_;
}

int CTestSink::EndsOfStream()
{
    CriticalSectionLock lock(recordLock_);
    return endsOfStream_;
}

void CTestSink::Record(const ReceivedSample& sample)
{
    CriticalSectionLock lock(recordLock_);
    received_.push_back(sample);
}

void CTestSink::RecordEnd()
{
    CriticalSectionLock lock(recordLock_);
    ++endsOfStream_;
}

CFakeGraph::CFakeGraph() = default;

STDMETHODIMP CFakeGraph::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IFilterGraph)
        *object = static_cast<IFilterGraph*>(this);
    else if (iid == IID_IMediaEventSink)
        *object = static_cast<IMediaEventSink*>(this);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CFakeGraph::AddRef()
{
    return ++references_;
}

STDMETHODIMP_(ULONG) CFakeGraph::Release()
{
    const ULONG remaining = --references_;
    if (remaining == 0)
        delete this;
    return remaining;
}

STDMETHODIMP CFakeGraph::Notify(long code, LONG_PTR param1, LONG_PTR param2)
{
    CriticalSectionLock lock(lock_);
    events_.push_back({code, param1, param2});
    return S_OK;
}

std::vector<NotifiedEvent> CFakeGraph::Events()
{
    CriticalSectionLock lock(lock_);
    return events_;
}

bool CFakeGraph::WaitForEvent(long code, DWORD timeoutMs)
{
    return WaitFor(
        [&] {
            for (const NotifiedEvent& event : Events())
                if (event.code == code)
                    return true;
            return false;
        },
        timeoutMs);
}

} // namespace filter_tests
