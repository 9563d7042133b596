#include "media/OpenRecording.h"

#include "base/ScopedWin.h"
#include "media/FileRead.h"
#include "media/asf/AsfReader.h"
#include "media/wtv/WtvFileSystem.h"
#include "media/wtv/WtvReader.h"

namespace media {

HRESULT OpenRecording(const wchar_t* path, std::unique_ptr<IRecordingReader>& reader)
{
    uint8_t head[16] = {};
    size_t got = 0;
    {
        UniqueFileHandle file;
        HRESULT hr = OpenShared(path, file);
        if (SUCCEEDED(hr))
            hr = ReadAt(file.Get(), 0, head, sizeof(head), got);
        if (FAILED(hr))
            return hr;
    }
    std::unique_ptr<IRecordingReader> opened;
    if (wtv::IsWtvFile(head, got))
        opened = std::make_unique<wtv::CReader>();
    else
        opened = std::make_unique<asf::CReader>();
    HRESULT hr = opened->Open(path);
    if (FAILED(hr))
        return hr;
    reader = std::move(opened);
    return S_OK;
}

} // namespace media
