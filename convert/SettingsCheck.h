#pragma once
// Settings that cannot work: refused where they are entered, and replaced by their defaults where
// they are found stored.

#include "settings/ConverterSettings.h"

#include <string>

// What is wrong with the first setting that cannot work, naming it as the window does; empty when
// every one can. An output extension must be a plain extension (a path or a reserved character in
// it would put the output elsewhere or nowhere), the input extension likewise, and neither
// directory may be empty.
std::wstring UnusableSetting(const CConverterSettings& settings);

// The settings with each one that cannot work replaced by its default; `notes` receives a line
// for each replacement, for the worker's output.
CConverterSettings UsableSettings(const CConverterSettings& settings, const CConverterSettings& defaults, std::wstring& notes);
