#pragma once
// The program's message box: warning icon, the application name as caption.

#include <windows.h>

#include <functional>

int AfxMessageBox(const char* text, UINT type = MB_OK);

// Tests answer message boxes through this instead of a real modal box; an empty function
// restores the real one.
using MessageBoxHandler = std::function<int(const char* text, UINT type)>;
void SetMessageBoxHandler(MessageBoxHandler handler);
