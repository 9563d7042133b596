#include "convert/OutputRecord.h"

#include "convert/OutputName.h"
#include "convert/PathText.h"
#include "base/ScopedWin.h"
#include "framework/FileFind.h"
#include "framework/Utf8Text.h"
#include "media/RecordingMetadata.h"

#include <algorithm>
#include <vector>

const wchar_t OutputRecordName[] = L"Halvern outputs.txt";

namespace {

// The record is read whole; one far larger than any real one (a line per output) is not a record.
constexpr ULONGLONG MaxRecordBytes = 64ull << 20;
// Names "Name (2)" to "Name (999)" are tried for an output whose name is taken.
constexpr unsigned MaxNumber = 999;
// What a path may hold without the long-path prefix, with room for " (999)" and ".partial".
constexpr size_t MaxPath = MAX_PATH - 1;
constexpr size_t NumberRoom = 6;
constexpr size_t PartialRoom = 8;

std::wstring Folded(std::wstring name)
{
    if (!name.empty())
        ::CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
    return name;
}

bool SameName(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool AttributesOf(const std::wstring& path, WIN32_FILE_ATTRIBUTE_DATA& data)
{
    return ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != 0;
}

// yyyy-mm-dd and hhmm of a UTC time, in the computer's time zone as it was then.
void LocalDateAndTime(const FILETIME& utc, std::wstring& date, std::wstring& time)
{
    SYSTEMTIME universal = {};
    SYSTEMTIME local = {};
    if (!::FileTimeToSystemTime(&utc, &universal) || !::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        return;
    wchar_t text[16] = {};
    swprintf(text, 16, L"%04u-%02u-%02u", local.wYear, local.wMonth, local.wDay);
    date = text;
    swprintf(text, 16, L"%02u%02u", local.wHour, local.wMinute);
    time = text;
}

NameFields FieldsOf(const std::wstring& recordingPath)
{
    NameFields fields;
    const std::wstring fileName = FileNameOf(recordingPath);
    fields.name = fileName.substr(0, std::min(fileName.rfind(L'.'), fileName.size()));
    media::RecordingMetadata metadata;
    // A recording whose header cannot be read is named by what the file system says of it.
    if (FAILED(media::ReadRecordingMetadata(recordingPath.c_str(), metadata)))
        metadata = media::RecordingMetadata();
    fields.title = metadata.title;
    fields.subTitle = metadata.subTitle;
    fields.channel = metadata.channel;
    fields.airDate = metadata.airDate;
    FILETIME start = {static_cast<DWORD>(metadata.recordStart), static_cast<DWORD>(metadata.recordStart >> 32)};
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    // Without the recorder's start time: the file's creation, or its last write when that is
    // earlier (a copied recording is created anew and keeps its last write).
    if (metadata.recordStart == 0 && AttributesOf(recordingPath, data))
        start = ::CompareFileTime(&data.ftCreationTime, &data.ftLastWriteTime) <= 0 ? data.ftCreationTime : data.ftLastWriteTime;
    if (start.dwLowDateTime != 0 || start.dwHighDateTime != 0)
        LocalDateAndTime(start, fields.recordDate, fields.recordTime);
    return fields;
}

// Tabs, line ends and a missing half make a line no entry.
bool IsEntryName(const std::wstring& name)
{
    return !name.empty() && name.find_first_of(L"\t\r\n") == std::wstring::npos;
}

} // namespace

COutputRecord::COutputRecord(const std::wstring& outputDirectory)
    : path_(WithTrailingBackslash(outputDirectory) + OutputRecordName)
{
}

void COutputRecord::Refresh()
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    const bool there = AttributesOf(path_, data);
    const ULONGLONG size = there ? (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow : 0;
    const FILETIME time = there ? data.ftLastWriteTime : FILETIME{0, 0};
    if (size == readSize_ && ::CompareFileTime(&time, &readTime_) == 0)
        return;
    recordingOf_.clear();
    outputOf_.clear();
    readSize_ = size;
    readTime_ = time;
    if (there && size > 0 && size <= MaxRecordBytes)
        Read(size);
    // After what the file says, as they were given after what it said when they were.
    for (const auto& entry : unwritten_)
        Take(entry.first, entry.second);
}

void COutputRecord::Read(ULONGLONG size)
{
    UniqueFileHandle file(::CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        return;
    std::string bytes(static_cast<size_t>(size), '\0');
    DWORD got = 0;
    if (!::ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr))
        return;
    bytes.resize(got);
    // Only whole lines count: the last one may be cut short by a crash.
    bytes.resize(bytes.rfind('\n') == std::string::npos ? 0 : bytes.rfind('\n') + 1);
    for (size_t at = 0; at < bytes.size();) {
        const size_t end = bytes.find('\n', at);
        std::wstring line;
        // A damaged line is skipped, not the record.
        const bool text = WideOfUtf8(bytes.substr(at, end - at), line);
        at = end + 1;
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        const size_t tab = line.find(L'\t');
        if (!text || tab == std::wstring::npos)
            continue;
        const std::wstring output = line.substr(0, tab), recording = line.substr(tab + 1);
        if (IsEntryName(output) && IsEntryName(recording))
            Take(output, recording);
    }
}

void COutputRecord::Take(const std::wstring& outputName, const std::wstring& recordingName)
{
    recordingOf_[Folded(outputName)] = recordingName;
    outputOf_[Folded(recordingName)] = outputName;
}

std::wstring COutputRecord::RecordingOf(const std::wstring& outputName) const
{
    const auto found = recordingOf_.find(Folded(outputName));
    return found == recordingOf_.end() ? std::wstring() : found->second;
}

std::wstring COutputRecord::OutputOf(const std::wstring& recordingName) const
{
    const auto found = outputOf_.find(Folded(recordingName));
    // An output given to another recording later is no longer this one's.
    if (found == outputOf_.end() || !SameName(RecordingOf(found->second), recordingName))
        return std::wstring();
    return found->second;
}

bool COutputRecord::Add(const std::wstring& outputName, const std::wstring& recordingName)
{
    if (!IsEntryName(outputName) || !IsEntryName(recordingName))
        return false;
    // What others appended is read with the next refresh; this entry counts from now on.
    Take(outputName, recordingName);
    if (Append(outputName + L"\t" + recordingName + L"\r\n"))
        return true;
    // Forgotten at the next read, the entry would leave the recording unconverted and its output
    // another's: converted again under a new name at every pass.
    unwritten_.emplace_back(outputName, recordingName);
    return false;
}

bool COutputRecord::Append(const std::wstring& line)
{
    // A name with half a UTF-16 pair has no UTF-8: written as U+FFFD, it would name another file.
    std::string bytes;
    if (!Utf8OfExactly(line, bytes))
        return false;
    // Appended in one write: runs beside each other (the Auto Converter, a command line) never
    // interleave their lines, and what others wrote meanwhile stays.
    UniqueFileHandle file(::CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool LookUpOutput(const std::wstring& outputDirectory, const std::wstring& outputName, FILETIME& lastWrite)
{
    CFileFind find;
    if (!find.FindFile((WithTrailingBackslash(outputDirectory) + outputName).c_str()) || find.IsDirectory())
        return false;
    lastWrite = find.GetLastWriteTime();
    return true;
}

bool IsOutputOf(const FILETIME& outputWritten, const FILETIME& recordingCreated)
{
    return ::CompareFileTime(&outputWritten, &recordingCreated) >= 0;
}

OutputChoice ChooseOutput(const CConverterSettings& settings, const std::wstring& outputDirectory,
                          const std::wstring& recordingPath, COutputRecord& record, const OutputLookup& lookup, bool adopt)
{
    const std::wstring recordingName = FileNameOf(recordingPath);
    const std::wstring directory = WithTrailingBackslash(outputDirectory);
    WIN32_FILE_ATTRIBUTE_DATA recording = {};
    const bool recordingThere = AttributesOf(recordingPath, recording);
    FILETIME written = {};
    const std::wstring own = record.OutputOf(recordingName);
    if (!own.empty() && lookup(own, written) && IsOutputOf(written, recording.ftCreationTime))
        return OutputChoice{own, true};

    const auto adoptable = [&](const std::wstring& name) {
        if (!adopt || !recordingThere || !lookup(name, written) || !record.RecordingOf(name).empty() ||
            SameName(name, OutputRecordName) || ::CompareFileTime(&written, &recording.ftLastWriteTime) < 0)
            return false;
        record.Add(name, recordingName); // unwritten, it holds for this run all the same
        return true;
    };
    const std::wstring plain = FileNameOf(OutputPathFor(directory, recordingName, settings.OutputExt));
    if (adoptable(plain))
        return OutputChoice{plain, true};

    const size_t fixed = directory.size() + 1 + settings.OutputExt.size() + NumberRoom + PartialRoom;
    const size_t room = fixed < MaxPath ? MaxPath - fixed : 1;
    const std::wstring base = ExpandNamePattern(settings.OutputName, FieldsOf(recordingPath), std::min(room, MaxPatternNameLength));
    for (unsigned n = 1; n <= MaxNumber; ++n) {
        const std::wstring candidate = AsWindowsNamesIt((n == 1 ? base : NumberedName(base, n)) + L"." + settings.OutputExt);
        if (n == 1 && adoptable(candidate))
            return OutputChoice{candidate, true};
        const bool there = lookup(candidate, written);
        const std::wstring owner = record.RecordingOf(candidate);
        // A name given to a recording of this file name before stays this one's, unless its output
        // is older than this file: then it is an earlier namesake's.
        if (SameName(owner, recordingName) && (!there || IsOutputOf(written, recording.ftCreationTime)))
            return OutputChoice{candidate, there};
        if (!owner.empty() || there || SameName(candidate, OutputRecordName))
            continue;
        // Unrecorded (a read-only directory), the name still serves this run.
        record.Add(candidate, recordingName);
        return OutputChoice{candidate, false};
    }
    return OutputChoice{plain, false};
}

ConversionRequest MakeNamedRequest(const CConverterSettings& settings, const std::wstring& recordingPath,
                                   const std::wstring& outputDirectory)
{
    CConverterSettings there = settings;
    there.OutputPath = outputDirectory;
    ConversionRequest request = MakeConversionRequest(there, recordingPath);
    if (settings.OutputName.empty())
        return request;
    COutputRecord record(outputDirectory);
    record.Refresh();
    const OutputLookup lookup = [&](const std::wstring& name, FILETIME& lastWrite) {
        return LookUpOutput(outputDirectory, name, lastWrite);
    };
    const std::wstring name = ChooseOutput(there, outputDirectory, recordingPath, record, lookup, false).name;
    request.outputPath = WithTrailingBackslash(outputDirectory) + name;
    if (!request.captionPath.empty())
        request.captionPath = OutputPathFor(outputDirectory, name, L"srt");
    return request;
}
