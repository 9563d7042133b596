#include "convert/SettingsCheck.h"

#include "convert/OutputName.h"

namespace {

const char kPlainExtension[] = " must be a plain extension, such as MPG: not empty, without a path or any of \\ / : * ? \" < > |.";

// The directories and the output extension: what a stored value can be replaced in. (A stored
// input extension that cannot work is the worker's to report: it converts nothing then.)
struct Field {
    const char* name;
    std::string CConverterSettings::*value;
    bool extension;
};
const Field kReplaceable[] = {
    {"The input directory", &CConverterSettings::InputPath, false},
    {"The output directory", &CConverterSettings::OutputPath, false},
    {"The output extension", &CConverterSettings::OutputExt, true},
};

std::string Problem(const Field& field, const std::string& value)
{
    if (field.extension)
        return IsUsableExtension(value) ? std::string() : std::string(field.name) + kPlainExtension;
    return value.empty() ? std::string(field.name) + " cannot be empty." : std::string();
}

} // namespace

std::string UnusableSetting(const CConverterSettings& settings)
{
    for (const Field& field : kReplaceable) {
        const std::string problem = Problem(field, settings.*field.value);
        if (!problem.empty())
            return problem;
    }
    if (!IsUsableExtension(settings.InputExt))
        return std::string("The input extension") + kPlainExtension;
    return std::string();
}

CConverterSettings UsableSettings(const CConverterSettings& settings, const CConverterSettings& defaults, std::string& notes)
{
    CConverterSettings usable = settings;
    for (const Field& field : kReplaceable) {
        const std::string problem = Problem(field, settings.*field.value);
        if (problem.empty())
            continue;
        usable.*field.value = defaults.*field.value;
        notes += "ERROR - The stored setting cannot work: " + problem + " Using \"" + usable.*field.value + "\" instead.\n";
    }
    return usable;
}
