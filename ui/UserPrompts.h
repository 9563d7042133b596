#pragma once
// The main window's questions to the user. The real ones are modal system dialogs; tests hand in
// their own answers.

#include <windows.h>

#include <functional>
#include <string>

struct UserPrompts {
    // A message box with the program's caption and the warning icon; gives the button pressed.
    std::function<int(const wchar_t* text, UINT type)> Message;
    // The open-file dialog, starting at initialName with the filter in bar notation; false when
    // the user cancelled.
    std::function<bool(const std::wstring& initialName, const std::wstring& filter, std::wstring& chosenPath)> ChooseFile;
};

// The system's own dialogs.
UserPrompts SystemPrompts();
