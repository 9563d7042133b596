#include "convert/ConversionProgress.h"

#include <algorithm>
#include <climits>
#include <cmath>

using Microsoft::WRL::ComPtr;

namespace {

// Seconds cut toward zero, held to the range of a LONG (NaN gives 0).
LONG WholeSeconds(double seconds)
{
    if (std::isnan(seconds))
        return 0;
    if (seconds >= static_cast<double>(LONG_MAX))
        return LONG_MAX;
    if (seconds <= static_cast<double>(LONG_MIN))
        return LONG_MIN;
    return static_cast<LONG>(seconds); // toward zero
}

bool HasInputPin(IBaseFilter* filter)
{
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins)))
        return false;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION direction = PINDIR_OUTPUT;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_INPUT)
            return true;
    }
    return false;
}

// A filter that says it is a source, or one that takes nothing in.
bool IsSource(IBaseFilter* filter)
{
    ComPtr<IAMFilterMiscFlags> flags;
    if (SUCCEEDED(filter->QueryInterface(IID_PPV_ARGS(&flags))) &&
        (flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_SOURCE))
        return true;
    return !HasInputPin(filter);
}

// The object's IMediaSeeking, if it can tell both a position and a duration.
ComPtr<IMediaSeeking> PositionTeller(IUnknown* object)
{
    ComPtr<IMediaSeeking> seeking;
    DWORD needed = AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetDuration;
    if (FAILED(object->QueryInterface(IID_PPV_ARGS(&seeking))) || seeking->CheckCapabilities(&needed) != S_OK)
        return nullptr;
    return seeking;
}

// The first source in the graph that tells its position: on the filter, else on an output pin.
ComPtr<IMediaSeeking> SourcePosition(IFilterGraph* graph)
{
    ComPtr<IEnumFilters> filters;
    if (FAILED(graph->EnumFilters(&filters)))
        return nullptr;
    ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        if (!IsSource(filter.Get()))
            continue;
        if (ComPtr<IMediaSeeking> seeking = PositionTeller(filter.Get()))
            return seeking;
        ComPtr<IEnumPins> pins;
        if (FAILED(filter->EnumPins(&pins)))
            continue;
        ComPtr<IPin> pin;
        while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
            ComPtr<IPin> peer;
            if (SUCCEEDED(pin->ConnectedTo(&peer)))
                if (ComPtr<IMediaSeeking> seeking = PositionTeller(pin.Get()))
                    return seeking;
        }
    }
    return nullptr;
}

} // namespace

CConversionProgress::CConversionProgress(IFilterGraph* graph, IMediaPosition* position)
    : source_(SourcePosition(graph)), graph_(position)
{
    graph_->get_Duration(&duration_);
}

LONG CConversionProgress::RangeSeconds() const
{
    return WholeSeconds(duration_);
}

LONG CConversionProgress::PositionSeconds() const
{
    LONGLONG done = 0;
    LONGLONG total = 0;
    if (source_ && SUCCEEDED(source_->GetCurrentPosition(&done)) && SUCCEEDED(source_->GetDuration(&total)) &&
        total > 0)
        return WholeSeconds(duration_ * std::clamp(static_cast<double>(done) / static_cast<double>(total), 0.0, 1.0));
    REFTIME now = 0;
    graph_->get_CurrentPosition(&now);
    return WholeSeconds(now);
}

bool CConversionProgress::SourceReadToEnd() const
{
    LONGLONG done = 0;
    LONGLONG total = 0;
    if (!source_ || source_->IsUsingTimeFormat(&TIME_FORMAT_BYTE) != S_OK ||
        FAILED(source_->GetCurrentPosition(&done)) || FAILED(source_->GetDuration(&total)))
        return true;
    return done >= total;
}
