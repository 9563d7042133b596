#include "ui/UserPrompts.h"

#include "framework/FileDialog.h"
#include "framework/MessageBox.h"

UserPrompts SystemPrompts()
{
    UserPrompts prompts;
    prompts.Message = [](const wchar_t* text, UINT type) { return AfxMessageBox(text, type); };
    prompts.ChooseFile = [](const std::wstring& initialName, const std::wstring& filter, std::wstring& chosenPath) {
        CFileDialog dialog(TRUE, nullptr, initialName.c_str(), OFN_FILEMUSTEXIST | OFN_HIDEREADONLY, filter.c_str());
        if (dialog.DoModal() != IDOK)
            return false;
        chosenPath = dialog.GetPathName();
        return true;
    };
    return prompts;
}
