#include "convert/OutputName.h"

#include "convert/PathText.h"

#include <cwctype>
#include <vector>

namespace {

const wchar_t PartialSuffix[] = L".partial";

const struct {
    const wchar_t* name;
    std::wstring NameFields::*value;
} Fields[] = {
    {L"Name", &NameFields::name},         {L"Title", &NameFields::title},
    {L"SubTitle", &NameFields::subTitle}, {L"Channel", &NameFields::channel},
    {L"AirDate", &NameFields::airDate},   {L"RecordDate", &NameFields::recordDate},
    {L"RecordTime", &NameFields::recordTime},
};

const std::wstring NameFields::* FieldNamed(const std::wstring& name)
{
    for (const auto& field : Fields)
        if (::CompareStringOrdinal(name.c_str(), -1, field.name, -1, TRUE) == CSTR_EQUAL)
            return field.value;
    return nullptr;
}

// The pattern as literal text and fields in turn: literals[i] stands before fields[i], and the
// last literal after the last field. False when a brace does not enclose a known field.
bool Split(const std::wstring& pattern, std::vector<std::wstring>& literals,
           std::vector<const std::wstring NameFields::*>& fields)
{
    literals.assign(1, std::wstring());
    fields.clear();
    for (size_t at = 0; at < pattern.size(); ++at) {
        if (pattern[at] == L'}')
            return false;
        if (pattern[at] != L'{') {
            literals.back() += pattern[at];
            continue;
        }
        const size_t close = pattern.find(L'}', at + 1);
        if (close == std::wstring::npos)
            return false;
        const auto field = FieldNamed(pattern.substr(at + 1, close - at - 1));
        if (!field)
            return false;
        fields.push_back(field);
        literals.emplace_back();
        at = close;
    }
    return true;
}

bool IsOpening(wchar_t c) { return c == L'(' || c == L'['; }
bool IsClosing(wchar_t c) { return c == L')' || c == L']'; }

// Device names Windows keeps for itself, whatever extension follows them.
bool IsDeviceName(const std::wstring& name)
{
    static const wchar_t* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"COM1", L"COM2", L"COM3",
                                             L"COM4", L"COM5", L"COM6", L"COM7", L"COM8", L"COM9", L"LPT1",
                                             L"LPT2", L"LPT3", L"LPT4", L"LPT5", L"LPT6", L"LPT7", L"LPT8", L"LPT9"};
    std::wstring base = name.substr(0, name.find(L'.'));
    base.erase(base.find_last_not_of(L' ') + 1);
    for (const wchar_t* device : devices)
        if (::CompareStringOrdinal(base.c_str(), -1, device, -1, TRUE) == CSTR_EQUAL)
            return true;
    return false;
}

// Text as a file name holds it: reserved and control characters replaced, at most `maxLength`
// characters (a surrogate pair never split), without blanks before or blanks and dots after.
std::wstring AsFileName(std::wstring text, size_t maxLength)
{
    for (wchar_t& c : text)
        if (c < 0x20 || ContainsCharacter(std::wstring(1, c), NotInFileNames))
            c = L'_';
    text.erase(0, std::min(text.find_first_not_of(L' '), text.size()));
    if (IsDeviceName(AsWindowsNamesIt(text)))
        text.insert(0, 1, L'_');
    if (text.size() > maxLength) {
        size_t cut = maxLength;
        if (cut > 0 && text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF)
            --cut;
        text.resize(cut);
        // A separator left at the end of a cut name belonged to what was cut.
        text.erase(text.find_last_not_of(L" .-_,;") + 1);
    }
    return AsWindowsNamesIt(text);
}

} // namespace

std::wstring OutputPathFor(const std::wstring& outputDirectory, const std::wstring& inputFileName,
                           const std::wstring& outputExt)
{
    std::wstring path = WithTrailingBackslash(outputDirectory);
    // Only the name's own dot counts; a dot in the directory never cuts the path.
    const size_t dot = inputFileName.rfind(L'.');
    if (dot != std::wstring::npos)
        path.append(inputFileName, 0, dot + 1);
    path += outputExt;
    return AsWindowsNamesIt(path);
}

std::wstring PartialOutputPath(const std::wstring& outputPath)
{
    return outputPath + PartialSuffix;
}

bool IsPartialOutputName(const std::wstring& fileName)
{
    return HasExtension(fileName, PartialSuffix + 1);
}

bool IsUsableExtension(const std::wstring& extension)
{
    return !extension.empty() && !ContainsCharacter(extension, NotInFileNames);
}

bool IsUsableNamePattern(const std::wstring& pattern)
{
    std::vector<std::wstring> literals;
    std::vector<const std::wstring NameFields::*> fields;
    return Split(pattern, literals, fields);
}

std::wstring ExpandNamePattern(const std::wstring& pattern, const NameFields& fields, size_t maxLength)
{
    std::vector<std::wstring> literals;
    std::vector<const std::wstring NameFields::*> members;
    if (!Split(pattern, literals, members))
        return fields.name;
    // Each literal between two fields: closing brackets that end the field before it, the
    // separator, and opening brackets that start the field after it.
    const size_t count = members.size();
    std::vector<std::wstring> heads(count + 1), separators(count + 1), tails(count + 1);
    for (size_t i = 0; i <= count; ++i) {
        const std::wstring& literal = literals[i];
        size_t begin = 0, end = literal.size();
        if (i > 0)
            while (begin < end && IsClosing(literal[begin]))
                ++begin;
        if (i < count)
            while (end > begin && IsOpening(literal[end - 1]))
                --end;
        heads[i] = literal.substr(0, begin);
        separators[i] = literal.substr(begin, end - begin);
        tails[i] = literal.substr(end);
    }
    std::wstring name = separators[0];
    bool any = false;
    size_t lastShown = 0;
    for (size_t i = 0; i < count; ++i) {
        const std::wstring& value = fields.*members[i];
        if (value.empty())
            continue;
        // Only the separator right after the last field shown stays: those of missing fields go.
        if (any)
            name += separators[lastShown];
        name += tails[i] + value + heads[i + 1];
        any = true;
        lastShown = i + 1;
    }
    if (count > 0)
        name += separators[count];
    const std::wstring fileName = AsFileName(name, maxLength);
    return any && !fileName.empty() ? fileName : fields.name;
}

std::wstring NumberedName(const std::wstring& name, unsigned n)
{
    return name + L" (" + std::to_wstring(n) + L")";
}
