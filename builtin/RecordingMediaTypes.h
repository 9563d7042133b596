#pragma once
// The DirectShow media types the recording source offers for a stream, made from what the reader
// found in the payload (the header's tags are not trusted).

#include <windows.h>

#include <vector>

#include "filters/MediaType.h"
#include "media/RecordingReader.h"

// The types in order of preference; empty for a stream the source does not deliver.
std::vector<CMediaType> RecordingMediaTypes(const media::StreamFormat& format);
