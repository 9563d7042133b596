#pragma once
// Texts are ANSI everywhere but at the DirectShow boundary, where they cross in UTF-16 with the
// calling thread's ANSI code page.

#include <windows.h>

#include <string>

std::wstring ToWide(const std::string& text, UINT codePage = CP_THREAD_ACP);
std::string ToAnsi(const wchar_t* text, UINT codePage = CP_THREAD_ACP);
