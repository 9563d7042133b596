#pragma once
// The one private interface the program and its filters share: a filter that can write the
// recording's captions as a SubRip file beside the output is told where. It writes the file there
// only when the recording has captions, and is done with it once the graph has stopped; it then
// tells how many of the recording's caption pairs it could not carry into the video.

#include <windows.h>
#include <unknwn.h>

// {6A0F3C53-8E1B-4D2A-9C47-2B5E1D7F0A93}
inline constexpr GUID IID_ICaptionFileSink = {0x6A0F3C53, 0x8E1B, 0x4D2A, {0x9C, 0x47, 0x2B, 0x5E, 0x1D, 0x7F, 0x0A, 0x93}};

struct ICaptionFileSink : public IUnknown {
    // Before the graph runs; an empty path or null writes no file.
    virtual HRESULT STDMETHODCALLTYPE SetCaptionFile(LPCWSTR path) = 0;
    // After the graph has stopped: pairs with something in them that the last run dropped.
    virtual HRESULT STDMETHODCALLTYPE GetCaptionPairsLost(ULONG* lost) = 0;
};

// MinGW's __uuidof, which the filters' QueryInterface looks interfaces up by.
__CRT_UUID_DECL(ICaptionFileSink, 0x6A0F3C53, 0x8E1B, 0x4D2A, 0x9C, 0x47, 0x2B, 0x5E, 0x1D, 0x7F, 0x0A, 0x93)
