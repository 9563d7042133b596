#pragma once
// Class identifiers of Halvern's own filters. Fixed for good: graph descriptions name them.

#include <windows.h>

// {E409E530-810D-4941-8D27-7F44DB512528}
inline constexpr CLSID CLSID_HalvernRecordingSource =
    {0xE409E530, 0x810D, 0x4941, {0x8D, 0x27, 0x7F, 0x44, 0xDB, 0x51, 0x25, 0x28}};
// {FC3C108A-5679-4160-9D45-EDC47B298A8E}
inline constexpr CLSID CLSID_HalvernProgramStreamMux =
    {0xFC3C108A, 0x5679, 0x4160, {0x9D, 0x45, 0xED, 0xC4, 0x7B, 0x29, 0x8A, 0x8E}};
// {FB50D90E-EC6E-44BB-B396-DAE5513C4078}
inline constexpr CLSID CLSID_HalvernFileWriter =
    {0xFB50D90E, 0xEC6E, 0x44BB, {0xB3, 0x96, 0xDA, 0xE5, 0x51, 0x3C, 0x40, 0x78}};
