#pragma once
// Where a running conversion stands, for the progress bar. The range is the graph's duration in
// whole seconds; the position is the share of that range the graph's source has delivered, as the
// source tells it through IMediaSeeking (bytes of the recording, or its media time). The graph's
// own position follows its clock, under Wine wall time whether anything flows or not: it stands
// in only for a source that tells nothing.

#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

class CConversionProgress {
public:
    // Call once the graph runs.
    CConversionProgress(IFilterGraph* graph, IMediaPosition* position);

    LONG RangeSeconds() const;
    LONG PositionSeconds() const;
    // False when the source tells in bytes that it stopped short of the end of its file: a graph
    // that completed even so has not converted the whole recording.
    bool SourceReadToEnd() const;

private:
    Microsoft::WRL::ComPtr<IMediaSeeking> source_;
    IMediaPosition* const graph_;
    REFTIME duration_ = 0;
};
