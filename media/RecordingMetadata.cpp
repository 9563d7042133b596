#include "media/RecordingMetadata.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/MediaErrors.h"
#include "media/ByteCursor.h"
#include "media/FileRead.h"
#include "media/asf/AsfHeader.h"
#include "media/wtv/WtvAttributes.h"
#include "media/wtv/WtvFileSystem.h"

namespace media {
namespace {

// 100 ns ticks from 0001-01-01 to 1601-01-01, where FILETIME counts from.
constexpr uint64_t TicksBeforeFileTime = 504911232000000000ull;

// A string value up to its NUL, blanks around it dropped, cut at MaxTextUnits.
std::wstring TextOf(const AttributeView& attribute)
{
    std::wstring text;
    const size_t units = std::min(attribute.valueSize / 2, MaxTextUnits);
    for (size_t i = 0; i < units; ++i) {
        const wchar_t c = static_cast<wchar_t>(attribute.value[2 * i] | attribute.value[2 * i + 1] << 8);
        if (c == L'\0')
            break;
        text += c;
    }
    const size_t first = text.find_first_not_of(L" \t\r\n");
    if (first == std::wstring::npos)
        return std::wstring();
    return text.substr(first, text.find_last_not_of(L" \t\r\n") - first + 1);
}

uint64_t QwordOf(const AttributeView& attribute)
{
    media::CByteCursor cursor(attribute.value, attribute.valueSize);
    const uint64_t value = cursor.U64();
    return cursor.Ok() ? value : 0;
}

bool IsDigits(const std::wstring& text, size_t at, size_t count)
{
    for (size_t i = at; i < at + count; ++i)
        if (i >= text.size() || text[i] < L'0' || text[i] > L'9')
            return false;
    return true;
}

// The UTC date of a FILETIME as yyyy-mm-dd; empty for none (0) or one before 1900, which stands
// for "unknown" in some guides.
std::wstring DateOf(uint64_t fileTime)
{
    FILETIME time = {static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    SYSTEMTIME parts = {};
    if (fileTime == 0 || !::FileTimeToSystemTime(&time, &parts) || parts.wYear < 1900)
        return std::wstring();
    wchar_t text[16] = {};
    swprintf(text, 16, L"%04u-%02u-%02u", parts.wYear, parts.wMonth, parts.wDay);
    return text;
}

HRESULT ReadAsf(HANDLE file, RecordingMetadata& metadata)
{
    std::vector<uint8_t> header(64 * 1024);
    size_t got = 0;
    HRESULT hr = ReadAt(file, 0, header.data(), header.size(), got);
    if (FAILED(hr))
        return hr;
    const uint64_t announced = asf::AnnouncedHeaderSize(header.data(), got);
    if (announced == 0)
        return HALVERN_E_NOT_RECORDING;
    // The announced size bounds what is read, and MaxHeaderSize bounds that.
    if (announced < 30 || announced > asf::MaxHeaderSize)
        return HALVERN_E_BAD_HEADER;
    if (announced > got) {
        header.resize(static_cast<size_t>(announced));
        hr = ReadAt(file, 0, header.data(), header.size(), got);
        if (FAILED(hr))
            return hr;
    }
    asf::ForEachAttribute(header.data(), got, [&](const AttributeView& attribute) { metadata.Take(attribute); });
    return S_OK;
}

HRESULT ReadWtv(HANDLE file, RecordingMetadata& metadata)
{
    wtv::CVirtualFile timeline;
    wtv::CVirtualFile attributes;
    HRESULT hr = wtv::MapFiles(file, timeline, attributes);
    if (FAILED(hr))
        return hr;
    std::vector<uint8_t> records(static_cast<size_t>(std::min<uint64_t>(attributes.Length(), MaxAttributeBytes)));
    size_t got = 0;
    hr = attributes.Read(file, 0, records.data(), records.size(), got);
    if (FAILED(hr))
        return hr;
    wtv::ForEachAttribute(records.data(), got, [&](const AttributeView& attribute) { metadata.Take(attribute); });
    return S_OK;
}

} // namespace

void RecordingMetadata::Take(const AttributeView& attribute)
{
    if (attribute.type == AttributeType::String) {
        const std::wstring text = TextOf(attribute);
        if (text.empty())
            return;
        // The media centre names the title "Title"; other writers "WM/Title".
        if ((attribute.NameIs("Title") || attribute.NameIs("WM/Title")) && title.empty())
            title = text;
        else if (attribute.NameIs("WM/SubTitle") && subTitle.empty())
            subTitle = text;
        else if (attribute.NameIs("WM/MediaStationName"))
            channel = text; // a call sign taken before gives way to the name
        else if (attribute.NameIs("WM/MediaStationCallSign") && channel.empty())
            channel = text;
        // Written as text by some tools: the date leads ("2009-05-04T00:00:00Z").
        else if (attribute.NameIs("WM/MediaOriginalBroadcastDateTime") && IsDigits(text, 0, 4) && text[4] == L'-' &&
                 IsDigits(text, 5, 2) && text[7] == L'-' && IsDigits(text, 8, 2))
            airDate = text.substr(0, 10);
        return;
    }
    if (attribute.type != AttributeType::Qword)
        return;
    if (attribute.NameIs("WM/MediaOriginalBroadcastDateTime"))
        airDate = DateOf(QwordOf(attribute));
    else if (attribute.NameIs("WM/WMRVEncodeTime") && QwordOf(attribute) > TicksBeforeFileTime)
        recordStart = QwordOf(attribute) - TicksBeforeFileTime;
}

HRESULT ReadRecordingMetadata(const wchar_t* path, RecordingMetadata& metadata)
{
    metadata = RecordingMetadata();
    UniqueFileHandle file;
    HRESULT hr = OpenShared(path, file);
    if (FAILED(hr))
        return hr;
    uint8_t head[64] = {};
    size_t got = 0;
    hr = ReadAt(file.Get(), 0, head, sizeof(head), got);
    if (FAILED(hr))
        return hr;
    return wtv::IsWtvFile(head, got) ? ReadWtv(file.Get(), metadata) : ReadAsf(file.Get(), metadata);
}

} // namespace media
