#include "autoconv/AutoConverter.h"

#include "convert/ComThread.h"
#include "convert/InputExtensions.h"
#include "convert/OutputName.h"
#include "convert/OutputRecord.h"
#include "convert/PathText.h"
#include "convert/SettingsCheck.h"
#include "framework/FileFind.h"
#include "framework/Utf8Text.h"

#include <algorithm>
#include <map>
#include <string>
#include <unordered_map>

namespace {

const wchar_t* const Banner[] = {
    L"Halvern Auto Converter turns recorded TV into MPEG files while it runs. ",
    L"Place in direcotry of recorded TV, together with \"FilterGraph.xgr\", ",
    L"this XGR file is an export of the graphedit tool by microsoft. ",
    L"As soon as MCE deletes a DVR-MS file, its corresponding MPG will also be deleted. ",
    L"If there are any unconverted files in your directory when program starts, ",
    L"they will start to convert after about 60 seconds.",
    L"\n\n",
};
const wchar_t Waiting[] = L"\nWaiting for new recording...\n";
const wchar_t UnusableInputExt[] = L"ERROR - The input extension is empty or not a plain extension: nothing is converted.\n";

bool NameExists(const std::wstring& path)
{
    CFileFind existing;
    return existing.FindFile(path.c_str());
}

bool IsDirectory(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A name as the file system compares it: letter case aside.
std::wstring FoldedName(std::wstring wide)
{
    if (!wide.empty())
        ::CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size()));
    return wide;
}

// The names in the output directory, listed once instead of one lookup per recording: a pass over
// thousands of converted recordings would otherwise spend seconds asking for each output.
class OutputListing {
public:
    explicit OutputListing(const std::wstring& directory) : directory_(directory) {}

    bool HasOutput(const std::wstring& outputPath)
    {
        FILETIME lastWrite = {};
        return Find(outputPath, lastWrite);
    }

    bool Find(const std::wstring& outputPath, FILETIME& lastWrite)
    {
        const std::wstring name = FileNameOf(outputPath);
        // A name the listing cannot answer for (a wildcard, or a path outside the directory that
        // an odd extension made) is looked up as the search would match it.
        if (outputPath != directory_ + name || ContainsCharacter(name, L"*?")) {
            CFileFind existing;
            if (!existing.FindFile(outputPath.c_str()))
                return false;
            lastWrite = existing.GetLastWriteTime();
            return true;
        }
        if (stale_)
            Refresh();
        const auto found = names_.find(FoldedName(name));
        if (found == names_.end())
            return false;
        lastWrite = found->second;
        return true;
    }

    // Outputs appear with conversions: the listing is read again before its next use.
    void Invalidate() { stale_ = true; }

private:
    void Refresh()
    {
        names_.clear();
        CFileFind find;
        for (bool found = find.FindFile((directory_ + L"*").c_str()); found; found = find.FindNextFile()) {
            names_.emplace(FoldedName(find.GetFileName()), find.GetLastWriteTime());
            // The search also matches a long name by its short one.
            const std::wstring shortName = find.GetShortName();
            if (!shortName.empty())
                names_.emplace(FoldedName(shortName), find.GetLastWriteTime());
        }
        stale_ = false;
    }

    const std::wstring directory_;
    std::unordered_map<std::wstring, FILETIME> names_; // with when each was last written
    bool stale_ = true;
};

// What a recording looked like when its conversion failed; it is tried again once it changes.
struct RecordingStamp {
    ULONGLONG size;
    FILETIME lastWrite;

    bool operator==(const RecordingStamp& other) const
    {
        return size == other.size && ::CompareFileTime(&lastWrite, &other.lastWrite) == 0;
    }
};

// As the file is now; a file that cannot be asked stamps as gone (size 0, no time).
RecordingStamp StampOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return RecordingStamp{0, FILETIME{0, 0}};
    return RecordingStamp{(static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, data.ftLastWriteTime};
}

// A recording that changed while it was converted, as it was last seen and since when.
struct ChangingRecording {
    RecordingStamp stamp;
    DWORD since;
};

} // namespace

// The worker's state for as long as its thread runs.
class CAutoConverter::Worker {
public:
    explicit Worker(CAutoConverter& owner)
        : owner_(owner),
          settings_(owner.settings_),
          inputDirectory_(WithTrailingBackslash(settings_.InputPath)),
          outputDirectory_(WithTrailingBackslash(settings_.OutputPath)),
          inputExts_(InputExtensions(settings_.InputExt)),
          record_(outputDirectory_)
    {
    }

    void Run();

private:
    void Scan();
    bool ScanFor(const std::wstring& inputExt, OutputListing& outputs);
    bool ChangedSinceConverted(const std::wstring& name, const std::wstring& inputPath);
    bool NameByPattern(const std::wstring& name, const FILETIME& created, ConversionRequest& request, OutputListing& outputs,
                       bool& converted);
    void RemoveOrphanedPartials();
    void Watch();
    void Wait();
    void Write(const wchar_t* text) { owner_.options_.Output(text); }
    bool StopRequested() const { return owner_.stopRequest_.load() != 0; }

    CAutoConverter& owner_;
    const CConverterSettings& settings_;
    const std::wstring inputDirectory_;
    const std::wstring outputDirectory_;
    // No file name ends in a blank or a dot, so neither does the extension of a recording.
    const std::vector<std::wstring> inputExts_;
    // Which recording each output belongs to, with an output name pattern set; read at each pass
    // that finds it changed.
    COutputRecord record_;
    UniqueChangeNotification notification_;
    DWORD lastWait_ = WAIT_TIMEOUT;
    // Recordings that failed through a fault of their own, or whose conversion was cancelled or
    // stalled, by name, for as long as this worker runs: without it such a recording would be
    // converted, and fail, on every pass. Other failures may pass (a share not yet up, a full disk),
    // so those recordings are tried again in the next pass.
    std::map<std::wstring, RecordingStamp> failed_;
    // Recordings that changed while they were converted (a writer Halvern cannot see, on another
    // computer): their outputs may lack the end, so each is converted again once it has stayed as
    // it is for a while, and only a recording that did not change while converted is deleted.
    std::map<std::wstring, ChangingRecording> changing_;
};

void CAutoConverter::Worker::Run()
{
    for (const wchar_t* text : Banner)
        Write(text);
    Write(owner_.settingsNotes_.c_str());
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_IDLE);
    if (!IsUsableExtensionList(settings_.InputExt))
        Write(UnusableInputExt);
    Write(Waiting);

    for (bool firstPass = true; !StopRequested(); firstPass = false) {
        if (!firstPass) {
            Wait();
            if (StopRequested())
                break;
        }
        // Watched before the pass, so that a recording finished during it wakes the next.
        Watch();
        // A single-file conversion is running: leave the recordings to the next wake-up.
        if (!owner_.engine_.Busy())
            Scan();
        if (owner_.options_.PassDone)
            owner_.options_.PassDone();
    }
}

// Whether a recording that has an output changed while that output was made and has since stayed
// as it is for the settling time: then it is converted again.
bool CAutoConverter::Worker::ChangedSinceConverted(const std::wstring& name, const std::wstring& inputPath)
{
    const auto known = changing_.find(name);
    if (known == changing_.end())
        return false;
    const RecordingStamp now = StampOf(inputPath);
    if (!(now == known->second.stamp)) {
        known->second = ChangingRecording{now, ::GetTickCount()};
        return false;
    }
    return ::GetTickCount() - known->second.since >= owner_.options_.ChangeSettleMs;
}

// The output by the pattern: the recording's own when it has one (the record read once per pass
// answers for a converted recording, which is never opened), else one named from its metadata.
// False for a recording still being recorded, which gets no name yet.
bool CAutoConverter::Worker::NameByPattern(const std::wstring& name, const FILETIME& created, ConversionRequest& request,
                                           OutputListing& outputs, bool& converted)
{
    FILETIME lastWrite = {};
    std::wstring output = record_.OutputOf(name);
    converted = !output.empty() && outputs.Find(outputDirectory_ + output, lastWrite) && IsOutputOf(lastWrite, created);
    if (!converted) {
        if (!IsFinishedRecording(request.inputPath))
            return false;
        const OutputLookup lookup = [&](const std::wstring& outputName, FILETIME& written) {
            return outputs.Find(outputDirectory_ + outputName, written);
        };
        const OutputChoice choice = ChooseOutput(settings_, outputDirectory_, request.inputPath, record_, lookup, true);
        output = choice.name;
        converted = choice.converted;
    }
    request.outputPath = outputDirectory_ + output;
    if (!request.captionPath.empty())
        request.captionPath = OutputPathFor(outputDirectory_, output, L"srt");
    return true;
}

void CAutoConverter::Worker::Watch()
{
    if (!notification_) {
        // Also retried before every later pass: the input directory may appear later.
        notification_.Reset(::FindFirstChangeNotificationW(inputDirectory_.c_str(), FALSE,
                                                           FILE_NOTIFY_CHANGE_LAST_WRITE));
    } else if (lastWait_ == WAIT_OBJECT_0 && !::FindNextChangeNotification(notification_.Get())) {
        notification_.Reset();
    }
    lastWait_ = WAIT_TIMEOUT; // armed
}

void CAutoConverter::Worker::Wait()
{
    // A recording that changed while it was converted is looked at again once it may have settled,
    // not at the next scan only. One due already was left by the last pass (still held open, or a
    // single-file conversion ran): the next change or scan takes it up, so the worker never spins.
    DWORD timeout = owner_.options_.ScanWaitMs;
    const DWORD now = ::GetTickCount();
    for (const auto& known : changing_) {
        const DWORD settled = now - known.second.since;
        if (settled < owner_.options_.ChangeSettleMs)
            timeout = std::min(timeout, owner_.options_.ChangeSettleMs - settled);
    }

    HANDLE stopEvent = owner_.stopEvent_.Get();
    if (notification_ && stopEvent) {
        HANDLE handles[2] = {notification_.Get(), stopEvent};
        lastWait_ = ::WaitForMultipleObjects(2, handles, FALSE, timeout);
        if (lastWait_ != WAIT_FAILED)
            return;
        notification_.Reset(); // an unusable notification must not make the worker spin
    }
    // Without a notification, wait for the stop alone, just as long.
    lastWait_ = stopEvent ? ::WaitForSingleObject(stopEvent, timeout) : (::Sleep(timeout), WAIT_TIMEOUT);
    if (lastWait_ == WAIT_OBJECT_0)
        lastWait_ = WAIT_OBJECT_0 + 1;
}

void CAutoConverter::Worker::Scan()
{
    // An empty extension matches nothing; one with a path or a wildcard in it would search
    // elsewhere or match everything.
    if (!IsUsableExtensionList(settings_.InputExt))
        return;
    if (!settings_.OutputName.empty())
        record_.Refresh();
    RemoveOrphanedPartials();
    OutputListing outputs(outputDirectory_);
    for (const std::wstring& extension : inputExts_) {
        if (StopRequested() || !ScanFor(extension, outputs))
            return;
    }
}

// The recordings with one of the input extensions; false when a single-file conversion came first.
bool CAutoConverter::Worker::ScanFor(const std::wstring& inputExt, OutputListing& outputs)
{
    const std::wstring pattern = inputDirectory_ + L"*." + inputExt;
    CFileFind recordings;
    for (bool found = recordings.FindFile(pattern.c_str()); found && !StopRequested();
         found = recordings.FindNextFile()) {
        const std::wstring name = recordings.GetFileName();
        // Short names let "*.ext" match longer extensions too.
        if (recordings.IsDirectory() || !HasExtension(name, inputExt) || IsPartialOutputName(name) ||
            ::CompareStringOrdinal(name.c_str(), -1, OutputRecordName, -1, TRUE) == CSTR_EQUAL)
            continue;
        const RecordingStamp stamp = {recordings.GetLength(), recordings.GetLastWriteTime()};
        const auto known = failed_.find(name);
        if (known != failed_.end() && known->second == stamp)
            continue;
        ConversionRequest request = MakeConversionRequest(settings_, inputDirectory_ + name);
        const std::wstring& inputPath = request.inputPath;
        const std::wstring& outputPath = request.outputPath;
        bool converted = false;
        if (settings_.OutputName.empty())
            converted = outputs.HasOutput(outputPath);
        else if (!NameByPattern(name, recordings.GetCreationTime(), request, outputs, converted))
            continue;
        if ((converted && !ChangedSinceConverted(name, inputPath)) || !IsFinishedRecording(inputPath))
            continue;

        // A stop requested meanwhile waits for the conversion: it is never cut short.
        const RecordingStamp before = StampOf(inputPath);
        // The after-conversion command has run, or been given up, when this returns: before the delete.
        std::wstring afterConversion;
        const ConversionResult result = owner_.engine_.ConvertFile(request, &afterConversion);
        if (result == ConversionResult::Busy)
            return false; // a single-file conversion came first: the recordings wait for a later pass
        if (result == ConversionResult::Converted || result == ConversionResult::ConvertedCut) {
            failed_.erase(name);
            const RecordingStamp after = StampOf(inputPath);
            const bool unchanged = after == before;
            if (unchanged)
                changing_.erase(name);
            else
                changing_[name] = ChangingRecording{after, ::GetTickCount()};
            Write(L" - Done.\n");
            if (!afterConversion.empty())
                Write((afterConversion + L"\n").c_str());
            // A recording cut off in the middle of its data is all there will be of it, or not yet
            // all: it stays either way.
            if (settings_.DeleteSourceFile && result == ConversionResult::Converted && unchanged && HasUsableOutput(outputPath))
                ::DeleteFileW(inputPath.c_str());
        } else {
            // One the user cancelled, or that stalled, would do the same at once again.
            if (result == ConversionResult::RecordingAtFault || result == ConversionResult::Cancelled)
                failed_[name] = stamp;
            else
                failed_.erase(name);
            Write(L" - Failed.\n");
        }
        outputs.Invalidate();
        Write(Waiting);
    }
    return true;
}

// The unfinished output of a run that was killed stays for ever once its recording has gone: no
// later conversion of that recording replaces it. One that a run holds open is left alone.
void CAutoConverter::Worker::RemoveOrphanedPartials()
{
    if (!IsUsableExtension(settings_.OutputExt) || !IsDirectory(inputDirectory_))
        return; // a share not yet up would make every recording look gone
    const size_t suffixLength = PartialOutputPath(std::wstring()).size();
    CFileFind partials;
    for (bool found = partials.FindFile(PartialOutputPath(outputDirectory_ + L"*").c_str()); found;
         found = partials.FindNextFile()) {
        const std::wstring name = partials.GetFileName();
        if (partials.IsDirectory() || !IsPartialOutputName(name))
            continue;
        // Made by a run only if a recording it names, under an input extension, gives this name;
        // an orphan only once no such recording is left.
        const std::wstring outputName = name.substr(0, name.size() - suffixLength);
        const size_t dot = outputName.rfind(L'.');
        if (dot == std::wstring::npos)
            continue;
        std::wstring made;
        bool recordingLeft = false;
        for (const std::wstring& extension : inputExts_) {
            const std::wstring recording = outputName.substr(0, dot + 1) + extension;
            const std::wstring partial = PartialOutputPath(MakeConversionRequest(settings_, inputDirectory_ + recording).outputPath);
            if (::CompareStringOrdinal(partial.c_str(), -1, (outputDirectory_ + name).c_str(), -1, TRUE) != CSTR_EQUAL)
                continue;
            made = partial;
            recordingLeft = recordingLeft || NameExists(inputDirectory_ + recording);
        }
        // Named by the pattern: made for the recording the record gives that name.
        const std::wstring owner = made.empty() && !settings_.OutputName.empty() ? record_.RecordingOf(outputName) : L"";
        if (!owner.empty()) {
            made = outputDirectory_ + name;
            recordingLeft = NameExists(inputDirectory_ + owner);
        }
        if (made.empty() || recordingLeft)
            continue;
        // Unshared, so a file that a run is writing is never opened; deleted as it is closed.
        UniqueFileHandle orphan(::CreateFileW(made.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    }
}

// A file that something holds open to write it (the recorder) cannot be read without sharing the
// writing. A read-only recording, or one a player reads, is finished: asking for write access
// would take those for recordings in progress for ever.
bool IsFinishedRecording(const std::wstring& path)
{
    UniqueFileHandle probe(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD error = probe ? ERROR_SUCCESS : ::GetLastError();
    return error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION;
}

bool HasUsableOutput(const std::wstring& outputPath)
{
    CFileFind output;
    return output.FindFile(outputPath.c_str()) && !output.IsDirectory() && output.GetLength() > 0;
}

void WriteToStandardOutput(const wchar_t* text)
{
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (!output || output == INVALID_HANDLE_VALUE)
        return;
    std::wstring wide = text;
    DWORD mode = 0;
    DWORD written = 0;
    // A console shows UTF-16 whatever its code page; a file or a pipe gets UTF-8, with the line ends
    // of a text file as before. Written at once, unbuffered, so whoever watches a redirected output
    // sees each line as it happens.
    if (::GetConsoleMode(output, &mode)) {
        ::WriteConsoleW(output, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    for (size_t feed = wide.find(L'\n'); feed != std::wstring::npos; feed = wide.find(L'\n', feed + 2))
        wide.insert(feed, 1, L'\r');
    const std::string utf8 = Utf8Of(wide);
    ::WriteFile(output, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

CAutoConverter::CAutoConverter(CConversionEngine& engine, Options options)
    : engine_(engine), options_(std::move(options))
{
}

CAutoConverter::~CAutoConverter()
{
    StopAutoConvert();
}

// Marks the worker as running for as long as its thread runs it, also when it ends by a throw.
class CAutoConverter::RunningMark {
public:
    explicit RunningMark(CAutoConverter& owner) : owner_(owner) { owner_.running_ = 1; }
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;
    ~RunningMark()
    {
        owner_.running_ = 0;
        owner_.stopRequest_ = 0;
    }

private:
    CAutoConverter& owner_;
};

void CAutoConverter::StartAutoConvert(const CConverterSettings& settings)
{
    // One worker at a time, also while one is stopping; an event a stop may have signalled goes
    // with the worker that ended.
    if (!FinishStop())
        return;
    // Stored values that cannot work fall back to their defaults for this worker, which says so.
    settingsNotes_.clear();
    settings_ = UsableSettings(settings, CConverterSettings::Defaults(), settingsNotes_);
    stopEvent_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // Cleared here rather than by the worker, so a stop requested from now on is never lost.
    stopRequest_ = 0;
    thread_ = StartComThread(ComThreadJob{
        [this] {
            const RunningMark running(*this);
            Worker worker(*this);
            worker.Run();
        },
        [this] { options_.Output(L"ERROR - Could not initialize COM library"); },
        [this] { options_.Output(L"ERROR - Out of memory\n"); },
    });
}

void CAutoConverter::RequestStop()
{
    // The flag before the event, so the woken worker finds the request.
    stopRequest_ = 1;
    if (thread_ && stopEvent_)
        ::SetEvent(stopEvent_.Get());
}

bool CAutoConverter::FinishStop()
{
    if (thread_ && ::WaitForSingleObject(thread_.Get(), 0) == WAIT_TIMEOUT)
        return false;
    thread_.Reset();
    stopEvent_.Reset(); // a signalled event is never used again
    return true;
}

void CAutoConverter::StopAutoConvert()
{
    RequestStop();
    if (!thread_)
        return;
    // The worker never waits for a window, so neither does this wait.
    ::WaitForSingleObject(thread_.Get(), INFINITE);
    FinishStop();
}
