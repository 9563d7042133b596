#include "builtin/FileWriter.h"

#include <cstring>
#include <new>

#include "builtin/BuiltinClasses.h"
#include "filters/InputPin.h"

class CFileWriterInputPin : public CBaseInputPin {
public:
    explicit CFileWriterInputPin(CFileWriter* writer) : CBaseInputPin(writer, L"Input"), writer_(writer) {}

    // Meant for a byte stream, but a writer can store whatever comes.
    HRESULT CheckMediaType(const AM_MEDIA_TYPE&) override { return S_OK; }

protected:
    // Sample times are not used: the multiplexer hands over its stream in order.
    HRESULT OnReceive(IMediaSample* sample) override { return writer_->Write(sample); }
    HRESULT OnEndOfStream() override { return writer_->Finish(); }
    bool ReceiveMayBlock() const override { return false; }

private:
    CFileWriter* const writer_;
};

CFileWriter::CFileWriter()
    : CFilterObject(CLSID_HalvernFileWriter), input_(std::make_unique<CFileWriterInputPin>(this))
{
    SetSeekingPin(input_.get());
}

CFileWriter::~CFileWriter() = default;

int CFileWriter::PinCount()
{
    return 1;
}

CBasePin* CFileWriter::PinAt(int)
{
    return input_.get();
}

STDMETHODIMP CFileWriter::SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* type)
{
    if (!fileName)
        return E_POINTER;
    if (!*fileName)
        return E_INVALIDARG;
    CriticalSectionLock lock(StateLock());
    if (State() != State_Stopped)
        return VFW_E_WRONG_STATE;
    // The file itself is made at the first pause, but a folder that is not there is worth
    // hearing of while the graph is built.
    std::wstring folder = fileName;
    const size_t slash = folder.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0 && folder[slash - 1] != L':') {
        folder.resize(slash);
        const DWORD attributes = ::GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    }
    file_.Set(fileName, type);
    return S_OK;
}

STDMETHODIMP CFileWriter::GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type)
{
    CriticalSectionLock lock(StateLock());
    return file_.GetCurFile(fileName, type);
}

HRESULT CFileWriter::OnStartStreaming()
{
    HRESULT hr = CBaseRenderer::OnStartStreaming();
    if (FAILED(hr))
        return hr;
    if (file_.Name().empty())
        return E_UNEXPECTED;
    CriticalSectionLock streaming(StreamingLock());
    failure_ = S_OK;
    return output_.Open(file_.Name());
}

void CFileWriter::OnStopStreaming()
{
    CBaseRenderer::OnStopStreaming();
    // A run stopped early keeps what it received, with no completion.
    output_.Close();
}

HRESULT CFileWriter::OnRun(REFERENCE_TIME start)
{
    // An end of stream that failed while paused must not complete now; the streaming lock orders
    // this against an end of stream still being handled.
    CriticalSectionLock streaming(StreamingLock());
    if (FAILED(failure_.load()))
        return S_OK;
    return CBaseRenderer::OnRun(start);
}

HRESULT CFileWriter::Fail(HRESULT hr)
{
    failure_ = hr;
    NotifyEvent(EC_ERRORABORT, hr, 0);
    return hr;
}

HRESULT CFileWriter::Write(IMediaSample* sample)
{
    const HRESULT failure = failure_.load();
    if (FAILED(failure))
        return failure;
    BYTE* data = nullptr;
    HRESULT hr = sample->GetPointer(&data);
    if (FAILED(hr))
        return hr;
    const long length = sample->GetActualDataLength();
    if (length <= 0)
        return S_OK;
    hr = output_.Append(data, static_cast<DWORD>(length), sample);
    if (FAILED(hr))
        return Fail(hr);
    return S_OK;
}

HRESULT CFileWriter::Finish()
{
    // A failure was reported when it happened; completing now would hide it.
    const HRESULT failure = failure_.load();
    if (FAILED(failure))
        return failure;
    HRESULT hr = output_.Finish();
    if (FAILED(hr))
        return Fail(hr);
    InputEnded();
    return S_OK;
}
