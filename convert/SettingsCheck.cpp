#include "convert/SettingsCheck.h"

#include "convert/InputExtensions.h"

#include "convert/OutputName.h"

namespace {

const wchar_t PlainExtension[] = L" must be a plain extension, such as MPG: not empty, without a path or any of \\ / : * ? \" < > |.";

// The directories and the output extension: what a stored value can be replaced in. (A stored
// input extension that cannot work is the worker's to report: it converts nothing then.)
struct Field {
    const wchar_t* name;
    std::wstring CConverterSettings::*value;
    bool extension;
};
const Field Replaceable[] = {
    {L"The input directory", &CConverterSettings::InputPath, false},
    {L"The output directory", &CConverterSettings::OutputPath, false},
    {L"The output extension", &CConverterSettings::OutputExt, true},
};

std::wstring Problem(const Field& field, const std::wstring& value)
{
    if (field.extension)
        return IsUsableExtension(value) ? std::wstring() : std::wstring(field.name) + PlainExtension;
    return value.empty() ? std::wstring(field.name) + L" cannot be empty." : std::wstring();
}

} // namespace

std::wstring UnusableSetting(const CConverterSettings& settings)
{
    for (const Field& field : Replaceable) {
        const std::wstring problem = Problem(field, settings.*field.value);
        if (!problem.empty())
            return problem;
    }
    if (!IsUsableExtensionList(settings.InputExt))
        return std::wstring(L"The input extension") + PlainExtension;
    return std::wstring();
}

CConverterSettings UsableSettings(const CConverterSettings& settings, const CConverterSettings& defaults, std::wstring& notes)
{
    CConverterSettings usable = settings;
    for (const Field& field : Replaceable) {
        const std::wstring problem = Problem(field, settings.*field.value);
        if (problem.empty())
            continue;
        usable.*field.value = defaults.*field.value;
        notes += L"ERROR - The stored setting cannot work: " + problem + L" Using \"" + usable.*field.value + L"\" instead.\n";
    }
    // Set in the registry only, so it is not the window's to refuse.
    if (!IsUsableNamePattern(settings.OutputName)) {
        usable.OutputName = defaults.OutputName;
        notes += L"ERROR - The stored setting cannot work: The output name \"" + settings.OutputName +
                 L"\" names a field other than {Name}, {Title}, {SubTitle}, {Channel}, {AirDate}, {RecordDate} and {RecordTime}, or leaves a brace open. Outputs are named after their recordings instead.\n";
    }
    return usable;
}
