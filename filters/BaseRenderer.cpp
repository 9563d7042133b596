#include "filters/BaseRenderer.h"

CBaseRenderer::CBaseRenderer(const CLSID& classId) : CBaseFilter(classId), seeking_(static_cast<IBaseFilter*>(this))
{
    SetSeeking(&seeking_);
}

bool CBaseRenderer::AllInputsEnded()
{
    for (int i = 0; i < PinCount(); ++i) {
        CBasePin* pin = PinAt(i);
        if (pin->Direction() != PINDIR_INPUT || !pin->IsConnected())
            continue;
        if (!static_cast<CBaseInputPin*>(pin)->AtEndOfStream())
            return false;
    }
    return true;
}

void CBaseRenderer::CompleteIfDue()
{
    if (!running_ || completed_ || !AllInputsEnded())
        return;
    completed_ = true;
    NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
}

void CBaseRenderer::InputEnded()
{
    CriticalSectionLock lock(completionLock_);
    CompleteIfDue();
}

HRESULT CBaseRenderer::OnStartStreaming()
{
    CriticalSectionLock lock(completionLock_);
    running_ = false;
    completed_ = false;
    return S_OK;
}

void CBaseRenderer::OnStopStreaming()
{
    CriticalSectionLock lock(completionLock_);
    running_ = false;
    completed_ = false;
}

HRESULT CBaseRenderer::OnRun(REFERENCE_TIME)
{
    // An input that ended while paused, or that was never connected, completes now.
    CriticalSectionLock lock(completionLock_);
    running_ = true;
    CompleteIfDue();
    return S_OK;
}

HRESULT CBaseRenderer::OnPauseFromRun()
{
    CriticalSectionLock lock(completionLock_);
    running_ = false;
    return S_OK;
}
