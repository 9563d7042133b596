#include "filters/MediaSample.h"

void CMediaSample::Attach(ISampleHome* home, BYTE* buffer, long size)
{
    home_ = home;
    buffer_ = buffer;
    size_ = size;
    ClearProperties();
}

void CMediaSample::ClearProperties()
{
    actual_ = size_;
    timeValid_ = stopValid_ = mediaTimeValid_ = false;
    syncPoint_ = preroll_ = discontinuity_ = false;
    if (typeChanged_)
        type_.Clear();
    typeChanged_ = false;
}

STDMETHODIMP CMediaSample::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IMediaSample) {
        *object = static_cast<IMediaSample*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CMediaSample::AddRef()
{
    return ++references_;
}

STDMETHODIMP_(ULONG) CMediaSample::Release()
{
    const ULONG remaining = --references_;
    if (remaining == 0) {
        ClearProperties();
        // The allocator may free this sample's memory before the call returns: nothing here after it.
        home_->OnSampleReturned(this);
    }
    return remaining;
}

STDMETHODIMP CMediaSample::GetPointer(BYTE** buffer)
{
    if (!buffer)
        return E_POINTER;
    *buffer = buffer_;
    return S_OK;
}

STDMETHODIMP_(long) CMediaSample::GetSize()
{
    return size_;
}

STDMETHODIMP CMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop)
{
    if (!start || !stop)
        return E_POINTER;
    if (!timeValid_)
        return VFW_E_SAMPLE_TIME_NOT_SET;
    *start = start_;
    if (!stopValid_) {
        // As DirectShow's own samples answer: a start alone implies the shortest duration.
        *stop = start_ + 1;
        return VFW_S_NO_STOP_TIME;
    }
    *stop = stop_;
    return S_OK;
}

STDMETHODIMP CMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop)
{
    timeValid_ = start != nullptr;
    stopValid_ = start && stop;
    if (start)
        start_ = *start;
    if (start && stop)
        stop_ = *stop;
    return S_OK;
}

STDMETHODIMP CMediaSample::IsSyncPoint()
{
    return syncPoint_ ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetSyncPoint(BOOL syncPoint)
{
    syncPoint_ = syncPoint != FALSE;
    return S_OK;
}

STDMETHODIMP CMediaSample::IsPreroll()
{
    return preroll_ ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetPreroll(BOOL preroll)
{
    preroll_ = preroll != FALSE;
    return S_OK;
}

STDMETHODIMP_(long) CMediaSample::GetActualDataLength()
{
    return actual_;
}

STDMETHODIMP CMediaSample::SetActualDataLength(long length)
{
    if (length < 0 || length > size_)
        return VFW_E_BUFFER_OVERFLOW;
    actual_ = length;
    return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaType(AM_MEDIA_TYPE** type)
{
    if (!type)
        return E_POINTER;
    *type = nullptr;
    if (!typeChanged_)
        return S_FALSE;
    *type = CreateMediaTypeCopy(type_.Get());
    return *type ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CMediaSample::SetMediaType(AM_MEDIA_TYPE* type)
{
    if (!type) {
        type_.Clear();
        typeChanged_ = false;
        return S_OK;
    }
    // The sample keeps a copy of its own; the caller keeps and frees what it passed.
    type_.Set(*type);
    if (type->cbFormat && type->pbFormat && !type_.Get().pbFormat) {
        typeChanged_ = false;
        return E_OUTOFMEMORY;
    }
    typeChanged_ = true;
    return S_OK;
}

STDMETHODIMP CMediaSample::IsDiscontinuity()
{
    return discontinuity_ ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaSample::SetDiscontinuity(BOOL discontinuity)
{
    discontinuity_ = discontinuity != FALSE;
    return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaTime(LONGLONG* start, LONGLONG* stop)
{
    if (!start || !stop)
        return E_POINTER;
    if (!mediaTimeValid_)
        return VFW_E_MEDIA_TIME_NOT_SET;
    *start = mediaStart_;
    *stop = mediaStop_;
    return S_OK;
}

STDMETHODIMP CMediaSample::SetMediaTime(LONGLONG* start, LONGLONG* stop)
{
    if (!start) {
        mediaTimeValid_ = false;
        return S_OK;
    }
    if (!stop)
        return E_POINTER;
    mediaStart_ = *start;
    mediaStop_ = *stop;
    mediaTimeValid_ = true;
    return S_OK;
}
