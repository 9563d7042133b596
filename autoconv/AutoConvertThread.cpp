#include "autoconv/AutoConvertThread.h"

#include "app/ConverterApp.h"
#include "convert/OutputName.h"
#include "framework/FileFind.h"

#include <cstdio>
#include <map>
#include <string>

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

WorkerOutput& Output()
{
    static WorkerOutput output;
    return output;
}

std::function<void()>& PassObserver()
{
    static std::function<void()> observer;
    return observer;
}

std::string WithTrailingBackslash(std::string directory)
{
    if (!EndsWithBackslash(directory))
        directory += '\\';
    return directory;
}

// The copy of the settings a worker runs with; later edits reach only the next worker.
struct Snapshot {
    std::string InputDirectory;
    std::string OutputDirectory;
    std::string InputExt;
    std::string OutputExt;
    std::string GraphChoice;
    bool DeleteSource;
};

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

// What a recording looked like when its conversion failed; it is tried again once it changes.
struct RecordingStamp {
    ULONGLONG size;
    FILETIME lastWrite;

    bool operator==(const RecordingStamp& other) const
    {
        return size == other.size && ::CompareFileTime(&lastWrite, &other.lastWrite) == 0;
    }
};

class AutoConverter {
public:
    explicit AutoConverter(CConverterApp& app) : app_(app) {}

    void Run();

private:
    void Scan();
    void Wait();
    bool StopRequested() const { return app_.AutoConvertStopRequest.load() != 0; }

    CConverterApp& app_;
    Snapshot settings_;
    UniqueChangeNotification notification_;
    DWORD lastWait_ = WAIT_TIMEOUT;
    // Recordings whose conversion failed, by name, for as long as this worker runs: without it a
    // broken recording would be converted, and fail, on every pass.
    std::map<std::string, RecordingStamp> failed_;
};

void AutoConverter::Run()
{
    app_.AutoConvertRunning = 1;
    for (const char* text : kBanner)
        WriteWorkerText(text);

    const CConverterSettings& stored = app_.Settings;
    settings_ = {WithTrailingBackslash(stored.InputPath), WithTrailingBackslash(stored.OutputPath), stored.InputExt,
                 stored.OutputExt, stored.UseFilterGraph, stored.DeleteSourceFile != 0};

    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_IDLE);
    if (!IsUsableExtension(settings_.InputExt))
        WriteWorkerText(kUnusableInputExt);
    WriteWorkerText(kWaiting);

    for (bool firstPass = true; !StopRequested(); firstPass = false) {
        if (!firstPass) {
            Wait();
            if (StopRequested())
                break;
        }
        // A single-file conversion is running: leave the recordings to the next wake-up.
        if (!app_.ConversionBusy.load())
            Scan();
        if (PassObserver())
            PassObserver()();
    }

    notification_.Reset();
    app_.AutoConvertRunning = 0;
    app_.AutoConvertStopRequest = 0;
}

void AutoConverter::Wait()
{
    DWORD timeout = AutoConvertTiming().ScanWaitMs;
    if (!notification_) {
        // Also retried before every later wait: the input directory may appear later.
        notification_.Reset(::FindFirstChangeNotificationA(settings_.InputDirectory.c_str(), FALSE,
                                                           FILE_NOTIFY_CHANGE_LAST_WRITE));
    } else if (lastWait_ == WAIT_OBJECT_0 && !::FindNextChangeNotification(notification_.Get())) {
        notification_.Reset();
    }

    HANDLE stopEvent = app_.AutoConvertStopEvent.Get();
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

void AutoConverter::Scan()
{
    // An empty extension matches nothing; one with a path or a wildcard in it would search
    // elsewhere or match everything.
    if (!IsUsableExtension(settings_.InputExt))
        return;
    std::string pattern = settings_.InputDirectory + "*." + settings_.InputExt;
    CFileFind recordings;
    for (bool found = recordings.FindFile(pattern.c_str()); found && !StopRequested();
         found = recordings.FindNextFile()) {
        std::string name = recordings.GetFileName();
        // Short names let "*.ext" match longer extensions too.
        if (recordings.IsDirectory() || !HasExtension(name, settings_.InputExt) || IsPartialOutputName(name))
            continue;
        const RecordingStamp stamp = {recordings.GetLength(), recordings.GetLastWriteTime()};
        const auto known = failed_.find(name);
        if (known != failed_.end() && known->second == stamp)
            continue;
        std::string inputPath = settings_.InputDirectory + name;
        std::string outputPath = OutputPathFor(settings_.OutputDirectory, name, settings_.OutputExt);
        if (HasOutput(outputPath) || !IsFinishedRecording(inputPath))
            continue;

        // The stop ends the conversion too: the recording stays and converts again later.
        const ConversionRequest request{inputPath, outputPath, settings_.GraphChoice, app_.AutoConvertStopEvent.Get(),
                                        settings_.OutputDirectory};
        if (app_.ConvertFile(request)) {
            failed_.erase(name);
            WriteWorkerText(" - Done.\n");
            if (settings_.DeleteSource && HasUsableOutput(outputPath))
                ::DeleteFileA(inputPath.c_str());
        } else {
            failed_[name] = stamp;
            WriteWorkerText(" - Failed.\n");
        }
        WriteWorkerText(kWaiting);
    }
}

} // namespace

bool HasUsableOutput(const std::string& outputPath)
{
    CFileFind output;
    return output.FindFile(outputPath.c_str()) && !output.IsDirectory() && output.GetLength() > 0;
}

AutoConvertTimings& AutoConvertTiming()
{
    static AutoConvertTimings timings;
    return timings;
}

void SetPassObserverForTests(std::function<void()> observer)
{
    PassObserver() = std::move(observer);
}

void SetWorkerOutputForTests(WorkerOutput output)
{
    Output() = std::move(output);
}

void WriteWorkerText(const char* text)
{
    if (Output()) {
        Output()(text);
        return;
    }
    // Flushed at once, so whoever watches a redirected output sees each line as it happens.
    fputs(text, stdout);
    fflush(stdout);
}

unsigned __stdcall AutoConvertThread(void* application)
{
    auto* app = static_cast<CConverterApp*>(application);
    {
        ScopedComInit com;
        if (com.Succeeded()) {
            // Nothing may leave the thread: the flags below must still be cleared.
            try {
                AutoConverter worker(*app);
                worker.Run();
            } catch (const std::exception&) {
                WriteWorkerText("ERROR - Out of memory\n");
                app->AutoConvertRunning = 0;
            }
        } else {
            WriteWorkerText("ERROR - Could not initialize COM library");
        }
    }
    app->AutoConvertWorkerAlive = 0;
    return 0;
}
