#include "tests/standins/StandInDump.h"

#include <cstring>
#include <new>

#include "filters/InputPin.h"
#include "tests/standins/StandIns.h"

class CDumpInputPin : public CBaseInputPin {
public:
    explicit CDumpInputPin(CStandInDump* dump) : CBaseInputPin(dump, L"Input"), dump_(dump) {}

    // A writer takes whatever comes.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE&) override { return S_OK; }

protected:
    HRESULT OnReceive(IMediaSample* sample) override { return dump_->Write(sample); }
    HRESULT OnEndOfStream() override { return dump_->Finish(); }
    bool ReceiveMayBlock() const override { return false; }

private:
    CStandInDump* const dump_;
};

CStandInDump::CStandInDump() : CBaseRenderer(StandInDumpClsid), input_(std::make_unique<CDumpInputPin>(this))
{
    SetSeekingPin(input_.get());
}

CStandInDump::~CStandInDump() = default;

HRESULT CStandInDump::Create(IUnknown** object)
{
    auto* dump = new (std::nothrow) CStandInDump();
    if (!dump)
        return E_OUTOFMEMORY;
    *object = static_cast<IBaseFilter*>(dump);
    return S_OK;
}

STDMETHODIMP CStandInDump::QueryInterface(REFIID iid, void** object)
{
    return CBaseRenderer::QueryInterface(iid, object);
}

STDMETHODIMP_(ULONG) CStandInDump::AddRef()
{
    return CBaseRenderer::AddRef();
}

STDMETHODIMP_(ULONG) CStandInDump::Release()
{
    return CBaseRenderer::Release();
}

HRESULT CStandInDump::QueryFilterInterface(REFIID iid, void** object)
{
    if (iid != IID_IFileSinkFilter)
        return CBaseRenderer::QueryFilterInterface(iid, object);
    *object = static_cast<IFileSinkFilter*>(this);
    AddRef();
    return S_OK;
}

int CStandInDump::PinCount()
{
    return 1;
}

CBasePin* CStandInDump::PinAt(int)
{
    return input_.get();
}

STDMETHODIMP CStandInDump::SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE*)
{
    if (!fileName)
        return E_POINTER;
    if (!*fileName)
        return E_INVALIDARG;
    CriticalSectionLock lock(StateLock());
    if (State() != State_Stopped)
        return VFW_E_WRONG_STATE;
    // The file itself is made when streaming starts; a name whose folder does not exist is
    // refused now, as a writer that cannot create its file would.
    std::wstring folder = fileName;
    const size_t slash = folder.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        folder.resize(slash == 0 ? 1 : slash);
        const DWORD attributes = ::GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    }
    fileName_ = fileName;
    return S_OK;
}

STDMETHODIMP CStandInDump::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type)
{
    if (!fileName)
        return E_POINTER;
    CriticalSectionLock lock(StateLock());
    *fileName = nullptr;
    if (type)
        *type = AM_MEDIA_TYPE();
    if (fileName_.empty())
        return S_OK;
    const size_t bytes = (fileName_.size() + 1) * sizeof(wchar_t);
    *fileName = static_cast<LPOLESTR>(::CoTaskMemAlloc(bytes));
    if (!*fileName)
        return E_OUTOFMEMORY;
    std::memcpy(*fileName, fileName_.c_str(), bytes);
    return S_OK;
}

namespace {

const char kFaultVariable[] = "HALVERN_DUMP_FAULT";

} // namespace

HRESULT CStandInDump::OnStartStreaming()
{
    HRESULT hr = CBaseRenderer::OnStartStreaming();
    if (FAILED(hr))
        return hr;
    if (fileName_.empty())
        return E_UNEXPECTED;
    CriticalSectionLock streaming(StreamingLock());
    char fault[32] = {};
    ::GetEnvironmentVariableA(kFaultVariable, fault, sizeof(fault));
    const std::string chosen = fault;
    fault_ = chosen == "ignore-name" ? Fault::IgnoreName
        : chosen == "abort"         ? Fault::Abort
        : chosen == "hang"          ? Fault::Hang
                                    : Fault::None;
    samplesWritten_ = 0;
    if (fault_ == Fault::IgnoreName)
        return S_OK;
    file_.Reset(::CreateFileW(fileName_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_)
        return HRESULT_FROM_WIN32(::GetLastError());
    return S_OK;
}

void CStandInDump::OnStopStreaming()
{
    CBaseRenderer::OnStopStreaming();
    file_.Reset();
}

HRESULT CStandInDump::Write(IMediaSample* sample)
{
    if (fault_ == Fault::IgnoreName)
        return S_OK;
    if (fault_ == Fault::Abort && samplesWritten_ > 0) {
        NotifyEvent(EC_ERRORABORT, HRESULT_FROM_WIN32(ERROR_WRITE_FAULT), 0);
        return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    }
    if (!file_)
        return E_UNEXPECTED;
    BYTE* data = nullptr;
    HRESULT hr = sample->GetPointer(&data);
    if (FAILED(hr))
        return hr;
    const DWORD length = static_cast<DWORD>(sample->GetActualDataLength());
    DWORD written = 0;
    if (!::WriteFile(file_.Get(), data, length, &written, nullptr) || written != length) {
        // Upstream only learns that its sample was refused; the graph must hear why.
        hr = HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
        NotifyEvent(EC_ERRORABORT, hr, 0);
        return hr;
    }
    ++samplesWritten_;
    return S_OK;
}

HRESULT CStandInDump::Finish()
{
    // Flushed and closed before completion is reported.
    if (file_)
        ::FlushFileBuffers(file_.Get());
    file_.Reset();
    if (fault_ != Fault::Hang)
        InputEnded();
    return S_OK;
}
