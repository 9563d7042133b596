#include "tests/standins/StandInClasses.h"

#include "builtin/FileWriter.h"
#include "builtin/ProgramStreamMux.h"
#include "builtin/RecordingSource.h"
#include "tests/standins/StandInDecrypter.h"
#include "tests/standins/StandIns.h"

// {36A5F770-FE4C-11CE-A8ED-00AA002FEAB5}
const CLSID StandInDumpClsid = {0x36A5F770, 0xFE4C, 0x11CE, {0xA8, 0xED, 0x00, 0xAA, 0x00, 0x2F, 0xEA, 0xB5}};
// {4DF35815-79C5-44C8-8753-847D5C9C3CF5}
const CLSID StandInMuxerClsid = {0x4DF35815, 0x79C5, 0x44C8, {0x87, 0x53, 0x84, 0x7D, 0x5C, 0x9C, 0x3C, 0xF5}};
// {C4C4C4F2-0049-4E2B-98FB-9537F6CE516D}
const CLSID StandInDecrypterClsid = {0xC4C4C4F2, 0x0049, 0x4E2B, {0x98, 0xFB, 0x95, 0x37, 0xF6, 0xCE, 0x51, 0x6D}};
// {C9F5FE02-F851-4EB5-99EE-AD602AF1E619}
const CLSID StandInSourceClsid = {0xC9F5FE02, 0xF851, 0x4EB5, {0x99, 0xEE, 0xAD, 0x60, 0x2A, 0xF1, 0xE6, 0x19}};

const StandInClass StandInClasses[4] = {
    {&StandInDumpClsid, "Halvern stand-in Dump (built-in file writer)", &CFileWriter::Create},
    {&StandInMuxerClsid, "Halvern stand-in MPEG multiplexer (built-in)", &CProgramStreamMux::Create},
    {&StandInDecrypterClsid, "Halvern stand-in decrypt/tag filter", &CStandInDecrypter::Create},
    {&StandInSourceClsid, "Halvern stand-in recording source (built-in)", &CRecordingSource::Create},
};
