#include "convert/InputExtensions.h"

#include "convert/OutputName.h"
#include "convert/PathText.h"

#include <windows.h>

#include <algorithm>

std::vector<std::wstring> InputExtensions(const std::wstring& setting)
{
    std::vector<std::wstring> extensions;
    for (size_t start = 0; start <= setting.size();) {
        size_t end = setting.find(L';', start);
        if (end == std::wstring::npos)
            end = setting.size();
        std::wstring extension = setting.substr(start, end - start);
        const size_t first = extension.find_first_not_of(L" \t");
        extension = first == std::wstring::npos ? std::wstring() : AsWindowsNamesIt(extension.substr(first));
        const bool known = std::any_of(extensions.begin(), extensions.end(), [&](const std::wstring& listed) {
            return ::CompareStringOrdinal(listed.c_str(), -1, extension.c_str(), -1, TRUE) == CSTR_EQUAL;
        });
        if (!extension.empty() && !known)
            extensions.push_back(extension);
        start = end + 1;
    }
    return extensions;
}

bool IsUsableExtensionList(const std::wstring& setting)
{
    const std::vector<std::wstring> extensions = InputExtensions(setting);
    return !extensions.empty() && std::all_of(extensions.begin(), extensions.end(), IsUsableExtension);
}
