#include "media/captions/SubRip.h"

#include <cstdio>

namespace captions {
namespace {

size_t Time(int64_t ms, char* out)
{
    ms = ms < 0 ? 0 : ms;
    const long long hours = ms / 3600000, minutes = ms / 60000 % 60, seconds = ms / 1000 % 60, millis = ms % 1000;
    return static_cast<size_t>(std::snprintf(out, 24, "%02lld:%02lld:%02lld,%03lld", hours, minutes, seconds, millis));
}

} // namespace

size_t FormatSubRipCue(unsigned index, int64_t startMs, int64_t endMs, const char* text, size_t size, char* out, size_t capacity)
{
    char head[80];
    size_t used = static_cast<size_t>(std::snprintf(head, 24, "%u\r\n", index));
    used += Time(startMs, head + used);
    head[used++] = ' ', head[used++] = '-', head[used++] = '-', head[used++] = '>', head[used++] = ' ';
    used += Time(endMs < startMs ? startMs : endMs, head + used);
    head[used++] = '\r', head[used++] = '\n';
    // Each text line gains a CR; two line ends close the cue.
    size_t lines = 0;
    for (size_t i = 0; i < size; ++i)
        lines += text[i] == '\n' ? 1 : 0;
    if (used + size + lines + 4 > capacity)
        return 0;
    size_t at = 0;
    for (size_t i = 0; i < used; ++i)
        out[at++] = head[i];
    for (size_t i = 0; i < size; ++i) {
        if (text[i] == '\n')
            out[at++] = '\r';
        out[at++] = text[i];
    }
    out[at++] = '\r', out[at++] = '\n', out[at++] = '\r', out[at++] = '\n';
    return at;
}

} // namespace captions
