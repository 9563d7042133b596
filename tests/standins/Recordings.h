#pragma once
// Real recordings for the internal graph, and the cheap check of what it makes of them.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

// Copies the 3-second plain ASF vector (MPEG-2 video, MPEG audio; pins "DVR Out - 1" and
// "DVR Out - 2") to `path`; it converts in about a second.
::testing::AssertionResult CopyRecording(const std::wstring& path);
::testing::AssertionResult CopyRecording(const std::string& path); // UTF-8
// The same recording with text attributes (name, value: "Title", "WM/SubTitle"...) in an Extended
// Content Description object of its header, as the media centre writes its metadata.
::testing::AssertionResult CopyRecording(const std::wstring& path, const std::vector<std::pair<std::string, std::wstring>>& attributes);

// For programs CTest does not run: unless HALVERN_VECTORS names them, makes the vectors with
// `script` (tests/media/make-vectors.sh) and points it there; false if none is there afterwards.
bool MakeVectorsIfNeeded(const std::string& script);

// Whether the file is an MPEG program stream: a pack header at byte 0 and more than one pack.
::testing::AssertionResult IsProgramStream(const std::wstring& path);
::testing::AssertionResult IsProgramStream(const std::string& path); // UTF-8
// The thorough check of a whole output: the tests' program stream checker finds no fault in it.
::testing::AssertionResult IsSoundProgramStream(const std::string& path);
