#pragma once
// How the recording source tells a multiplexer each stream's language: a property of the source's
// output pin, read through the pin's IKsPropertySet once the multiplexer's input is connected to
// it. DirectShow pins expose facts about their stream that way (the pin category is one), and the
// media type stays as it was, so every decoder and the program stream multiplexer take the pins as
// before. A pin that names no language (or any other filter's pin) leaves the stream without one.

#include <windows.h>
#include <dshow.h>

// {3C1E8A47-5B2D-4F69-8E0A-7D4B9C21F650}
inline constexpr GUID HalvernPropSetStream = {0x3C1E8A47, 0x5B2D, 0x4F69, {0x8E, 0x0A, 0x7D, 0x4B, 0x9C, 0x21, 0xF6, 0x50}};
// The stream's ISO 639-2 code: three lower-case ASCII letters, read only.
constexpr DWORD StreamPropertyLanguage = 0;
constexpr DWORD StreamLanguageBytes = 3;
