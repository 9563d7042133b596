#pragma once
// The program's message box: warning icon, the application name as caption.

#include <windows.h>

int AfxMessageBox(const wchar_t* text, UINT type = MB_OK);
