#pragma once
// Failure codes of Halvern's own recording reading, distinct from the system's so that a
// conversion report can name the cause (FACILITY_ITF codes belong to the interface that returns
// them).

#include <windows.h>

// The file is not a recording at all (neither ASF nor WTV).
inline constexpr HRESULT HALVERN_E_NOT_RECORDING = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0xA801);
// The header is cut short or contradicts itself.
inline constexpr HRESULT HALVERN_E_BAD_HEADER = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0xA802);
// Protected content: converting it needs rights Halvern does not have.
inline constexpr HRESULT HALVERN_E_PROTECTED = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0xA803);
// Neither MPEG-2 video nor a supported audio stream.
inline constexpr HRESULT HALVERN_E_NO_STREAMS = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0xA804);
// The data is damaged beyond what can be skipped (most packets unreadable).
inline constexpr HRESULT HALVERN_E_DAMAGED = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0xA805);
// An event the recording source sends its graph when its read ended where the file is cut in the
// middle of a packet or an object (EC_USER and above are the application's own).
inline constexpr long HALVERN_EC_RECORDING_CUT = 0x8000 + 0xA8;
// The file became shorter while it was read: what was read may not be all it held.
inline constexpr HRESULT HALVERN_E_SHRANK = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0xA806);
// The video is H.264 (a WTV recording of an HD channel): the program stream multiplexer refuses to
// run with it (the transport stream graph carries it).
inline constexpr HRESULT HALVERN_E_H264_VIDEO = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0xA807);
// Audio in AAC or E-AC-3: the program stream multiplexer refuses to run with it.
inline constexpr HRESULT HALVERN_E_AUDIO_NOT_IN_PS = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0xA808);
// H.264 stored with length prefixes instead of start codes (AVC1), which the recording source does
// not read.
inline constexpr HRESULT HALVERN_E_AVC1_VIDEO = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0xA809);
