#include "autoconv/AutoConverter.h"

#include "convert/OutputName.h"
#include "framework/FileFind.h"
#include "framework/MessagePump.h"

#include <process.h>

#include <cstdio>
#include <exception>
#include <map>
#include <string>
#include <unordered_set>

namespace {

const char* const kBanner[] = {
    "Halvern Auto Converter turns recorded TV into MPEG files while it runs. ",
    "Place in direcotry of recorded TV, together with \"FilterGraph.xgr\", ",
    "this XGR file is an export of the graphedit tool by microsoft. ",
    "As soon as MCE deletes a DVR-MS file, its corresponding MPG will also be deleted. ",
    "If there are any unconverted files in your directory when program starts, ",
    "they will start to convert after about 60 seconds.",
    "\n\n",
};
const char kWaiting[] = "\nWaiting for new recording...\n";
const char kUnusableInputExt[] = "ERROR - The input extension is empty or not a plain extension: nothing is converted.\n";

std::string WithTrailingBackslash(std::string directory)
{
    if (!EndsWithBackslash(directory))
        directory += '\\';
    return directory;
}

// A file that something else holds open (the recorder, a player) cannot be opened unshared.
bool IsFinishedRecording(const std::string& path)
{
    UniqueFileHandle probe(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    return probe.IsValid();
}

bool HasOutput(const std::string& outputPath)
{
    CFileFind existing;
    return existing.FindFile(outputPath.c_str());
}

// A name as the file system compares it: letter case aside.
std::wstring FoldedName(const std::string& name)
{
    std::wstring wide(name.size(), L'\0');
    const int length = ::MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), &wide[0],
                                              static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<size_t>(length) : 0);
    if (!wide.empty())
        ::CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size()));
    return wide;
}

// The names in the output directory, listed once instead of one lookup per recording: a pass over
// thousands of converted recordings would otherwise spend seconds asking for each output.
class OutputListing {
public:
    explicit OutputListing(const std::string& directory) : directory_(directory) {}

    bool HasOutput(const std::string& outputPath)
    {
        const std::string name = FileNameOf(outputPath);
        // A name the listing cannot answer for (a wildcard, or a path outside the directory that
        // an odd extension made) is looked up as the search would match it.
        if (outputPath != directory_ + name || ContainsCharacter(name, "*?"))
            return ::HasOutput(outputPath);
        if (stale_)
            Refresh();
        return names_.count(FoldedName(name)) != 0;
    }

    // Outputs appear with conversions: the listing is read again before its next use.
    void Invalidate() { stale_ = true; }

private:
    void Refresh()
    {
        names_.clear();
        CFileFind find;
        for (bool found = find.FindFile((directory_ + "*").c_str()); found; found = find.FindNextFile()) {
            names_.insert(FoldedName(find.GetFileName()));
            // The search also matches a long name by its short one.
            const std::string shortName = find.GetShortName();
            if (!shortName.empty())
                names_.insert(FoldedName(shortName));
        }
        stale_ = false;
    }

    const std::string directory_;
    std::unordered_set<std::wstring> names_;
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

} // namespace

// The worker's state for as long as its thread runs.
class CAutoConverter::Worker {
public:
    explicit Worker(CAutoConverter& owner)
        : owner_(owner),
          settings_(owner.settings_),
          inputDirectory_(WithTrailingBackslash(settings_.InputPath)),
          outputDirectory_(WithTrailingBackslash(settings_.OutputPath))
    {
    }

    void Run();

private:
    void Scan();
    void Wait();
    void Write(const char* text) { owner_.options_.Output(text); }
    bool StopRequested() const { return owner_.stopRequest_.load() != 0; }

    CAutoConverter& owner_;
    const CConverterSettings& settings_;
    const std::string inputDirectory_;
    const std::string outputDirectory_;
    UniqueChangeNotification notification_;
    DWORD lastWait_ = WAIT_TIMEOUT;
    // Recordings whose conversion failed, by name, for as long as this worker runs: without it a
    // broken recording would be converted, and fail, on every pass.
    std::map<std::string, RecordingStamp> failed_;
};

void CAutoConverter::Worker::Run()
{
    for (const char* text : kBanner)
        Write(text);
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_IDLE);
    if (!IsUsableExtension(settings_.InputExt))
        Write(kUnusableInputExt);
    Write(kWaiting);

    for (bool firstPass = true; !StopRequested(); firstPass = false) {
        if (!firstPass) {
            Wait();
            if (StopRequested())
                break;
        }
        // A single-file conversion is running: leave the recordings to the next wake-up.
        if (!owner_.engine_.Busy())
            Scan();
        if (owner_.options_.PassDone)
            owner_.options_.PassDone();
    }
}

void CAutoConverter::Worker::Wait()
{
    const DWORD timeout = owner_.options_.ScanWaitMs;
    if (!notification_) {
        // Also retried before every later wait: the input directory may appear later.
        notification_.Reset(::FindFirstChangeNotificationA(inputDirectory_.c_str(), FALSE,
                                                           FILE_NOTIFY_CHANGE_LAST_WRITE));
    } else if (lastWait_ == WAIT_OBJECT_0 && !::FindNextChangeNotification(notification_.Get())) {
        notification_.Reset();
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
    if (!IsUsableExtension(settings_.InputExt))
        return;
    const std::string pattern = inputDirectory_ + "*." + settings_.InputExt;
    OutputListing outputs(outputDirectory_);
    CFileFind recordings;
    for (bool found = recordings.FindFile(pattern.c_str()); found && !StopRequested();
         found = recordings.FindNextFile()) {
        const std::string name = recordings.GetFileName();
        // Short names let "*.ext" match longer extensions too.
        if (recordings.IsDirectory() || !HasExtension(name, settings_.InputExt) || IsPartialOutputName(name))
            continue;
        const RecordingStamp stamp = {recordings.GetLength(), recordings.GetLastWriteTime()};
        const auto known = failed_.find(name);
        if (known != failed_.end() && known->second == stamp)
            continue;
        const std::string inputPath = inputDirectory_ + name;
        const std::string outputPath = OutputPathFor(outputDirectory_, name, settings_.OutputExt);
        if (outputs.HasOutput(outputPath) || !IsFinishedRecording(inputPath))
            continue;

        // The stop ends the conversion too: the recording stays and converts again later.
        const ConversionRequest request{inputPath, outputPath, settings_.UseFilterGraph, owner_.stopEvent_.Get(),
                                        outputDirectory_};
        if (owner_.engine_.ConvertFile(request)) {
            failed_.erase(name);
            Write(" - Done.\n");
            if (settings_.DeleteSourceFile && HasUsableOutput(outputPath))
                ::DeleteFileA(inputPath.c_str());
        } else {
            failed_[name] = stamp;
            Write(" - Failed.\n");
        }
        outputs.Invalidate();
        Write(kWaiting);
    }
}

bool HasUsableOutput(const std::string& outputPath)
{
    CFileFind output;
    return output.FindFile(outputPath.c_str()) && !output.IsDirectory() && output.GetLength() > 0;
}

void WriteToStandardOutput(const char* text)
{
    // Flushed at once, so whoever watches a redirected output sees each line as it happens.
    fputs(text, stdout);
    fflush(stdout);
}

CAutoConverter::CAutoConverter(CConversionEngine& engine, Options options)
    : engine_(engine), options_(std::move(options))
{
}

CAutoConverter::~CAutoConverter()
{
    StopAutoConvert();
}

unsigned __stdcall CAutoConverter::AutoConvertThread(void* parameter)
{
    auto* owner = static_cast<CAutoConverter*>(parameter);
    ScopedComInit com;
    if (!com.Succeeded()) {
        owner->options_.Output("ERROR - Could not initialize COM library");
        return 0;
    }
    owner->running_ = 1;
    // Nothing may leave the thread: the flags below must still be cleared.
    try {
        Worker worker(*owner);
        worker.Run();
    } catch (const std::exception&) {
        owner->options_.Output("ERROR - Out of memory\n");
    }
    owner->running_ = 0;
    owner->stopRequest_ = 0;
    return 0;
}

void CAutoConverter::StartAutoConvert(const CConverterSettings& settings)
{
    if (thread_ && ::WaitForSingleObject(thread_.Get(), 0) == WAIT_TIMEOUT)
        return; // one worker at a time
    thread_.Reset();
    settings_ = settings;
    if (!stopEvent_)
        stopEvent_.Reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    // Cleared here rather than by the worker, so a stop requested from now on is never lost.
    stopRequest_ = 0;
    thread_.Reset(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &AutoConvertThread, this, 0, nullptr)));
}

void CAutoConverter::StopAutoConvert()
{
    stopRequest_ = 1;
    if (!thread_)
        return;
    if (stopEvent_)
        ::SetEvent(stopEvent_.Get());
    // The event also cancels the worker's conversion, which updates this thread's windows
    // synchronously while it ends: keep handling what it sends, and repainting, but take no input.
    HANDLE thread = thread_.Get();
    while (::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE | QS_PAINT) == WAIT_OBJECT_0 + 1) {
        PumpSentMessages();
        PumpPaintMessages();
    }
    thread_.Reset();
    stopEvent_.Reset();
}
