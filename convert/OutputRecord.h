#pragma once
// With an output name pattern set, outputs are named after what their recordings are, so two
// recordings may want one name and a name no longer tells which recording an output came from.
// The output record, a text file in the output directory, says it: one line per output, the
// output's file name and its recording's, UTF-8, separated by a tab (which no file name holds),
// appended in one write each so that a crash leaves at most a last line cut short, which is
// skipped. Its last line naming an output decides which recording that output belongs to.

#include "convert/ConversionRequest.h"
#include "settings/ConverterSettings.h"

#include <windows.h>

#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

extern const wchar_t OutputRecordName[]; // "Halvern outputs.txt"

class COutputRecord {
public:
    explicit COutputRecord(const std::wstring& outputDirectory);

    // Reads the record again when its file changed since it was last read; a missing or
    // unreadable one holds nothing.
    void Refresh();
    // The output that belongs to the recording (the last one given it); empty for none.
    std::wstring OutputOf(const std::wstring& recordingName) const;
    // The recording the output belongs to; empty for none.
    std::wstring RecordingOf(const std::wstring& outputName) const;
    // Gives the output to the recording, here and in the file; false when the file could not be
    // written (the output directory is missing or read-only, another program holds the record, a
    // name has no UTF-8): the entry then holds here alone, for as long as this record does.
    bool Add(const std::wstring& outputName, const std::wstring& recordingName);

private:
    void Read(ULONGLONG size);
    bool Append(const std::wstring& line);
    void Take(const std::wstring& outputName, const std::wstring& recordingName);

    const std::wstring path_;
    ULONGLONG readSize_ = 0;
    FILETIME readTime_ = {0, 0};
    // Folded names (letter case aside, as the file system compares them) to the other name as written.
    std::unordered_map<std::wstring, std::wstring> recordingOf_;
    std::unordered_map<std::wstring, std::wstring> outputOf_;
    // Entries given here that the file could not take: output and recording names.
    std::vector<std::pair<std::wstring, std::wstring>> unwritten_;
};

// Whether a file of that name is in the output directory, and when it was last written.
using OutputLookup = std::function<bool(const std::wstring& outputName, FILETIME& lastWrite)>;
// Asks the file system, one name at a time.
bool LookUpOutput(const std::wstring& outputDirectory, const std::wstring& outputName, FILETIME& lastWrite);

// Whether an output written then may be the conversion of a recording created then: one older than
// the recording's file belonged to an earlier recording of the same name.
bool IsOutputOf(const FILETIME& outputWritten, const FILETIME& recordingCreated);

struct OutputChoice {
    std::wstring name;      // of the output in the output directory
    bool converted = false; // it is there and belongs to the recording
};

// The output the recording gets by the settings' pattern (set) in `outputDirectory`: the one that
// belongs to it when that is there and not older than the recording's file; otherwise the pattern's name, "Name (2)" and so on past names
// that are taken (a file there, or another recording's in the record, or the record itself).
// A new name is given the recording in the record at once, so no other run takes it meanwhile.
// With `adopt` (the Auto Converter's test), an output that is there and belongs to no recording,
// but bears the recording's own name or the pattern's, is taken for its conversion when it was
// written after the recording was last: made by an earlier Halvern, or listed in a record lost
// since. A conversion started by hand names its output anew instead.
OutputChoice ChooseOutput(const CConverterSettings& settings, const std::wstring& outputDirectory,
                          const std::wstring& recordingPath, COutputRecord& record, const OutputLookup& lookup, bool adopt);

// MakeConversionRequest's request for a conversion started by hand, its output in `outputDirectory`
// named by the pattern when one is set (the output's own name when it has one), and its caption
// file named like it.
ConversionRequest MakeNamedRequest(const CConverterSettings& settings, const std::wstring& recordingPath,
                                   const std::wstring& outputDirectory);
