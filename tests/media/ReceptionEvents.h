#pragma once
// What weak reception and a broadcaster's schedule put into a recording, for the test-side recording
// writer to apply: objects lost, false times, and jumps of the clock that every stream shares. An
// object keeps the time it stands for (WrittenObject::time); only what is written changes.

#include <cstdint>
#include <vector>

namespace test_recordings {

enum class EventKind {
    Dropout,   // the objects of the span are lost; the others keep their true times
    FalseTime, // `count` objects carry their time plus `shift`, their data where it was
    Jump,      // every stream's times from `at` on carry `shift` more
};

// Which streams an event touches (a jump touches all).
constexpr int EveryStream = -1;
constexpr int VideoStream = 0; // audio streams are 1, 2... in the recording's order

struct ReceptionEvent {
    EventKind kind;
    int stream;
    // Where it starts: the send time of the first object it touches, from the first video time
    // (100 ns). Video is lost a whole group of pictures at a time: from the first I-picture sent at
    // `at` or later to the first one sent at `at + length` or later.
    int64_t at;
    int64_t length = 0; // Dropout: the span lost (100 ns)
    int64_t shift = 0;  // FalseTime and Jump (100 ns)
    unsigned count = 1; // FalseTime: objects given the false time, in the order they are sent
};

} // namespace test_recordings
