#pragma once
// The test side's own look at an ffmpeg-written WTV file, independent of the reader: where the
// root directory and the timeline's chunks lie, and the edits the tests make with it (a recorder's
// layout, protection, damage).

#include <cstdint>
#include <string>
#include <vector>

namespace test_wtv {

struct Chunk {
    uint64_t at = 0;       // offset in the file (ffmpeg's timeline is one run of sectors)
    uint32_t size = 0;     // as its header says, header included
    unsigned stream = 0;
    bool data = false;
    bool timestamp = false;
};

struct Layout {
    uint64_t rootAt = 0;
    uint32_t rootBytes = 0;
    uint64_t timelineAt = 0;     // file offset of the timeline's first byte
    uint64_t timelineLength = 0;
    uint64_t timelineEntryAt = 0; // file offset of the timeline's directory entry
    uint64_t tableAt = 0;         // file offset of the timeline's allocation table
    std::vector<Chunk> chunks;
};

// False (with a reason) when the file is not laid out as ffmpeg lays WTV files out.
bool ReadLayout(const std::string& file, Layout& layout, std::string& error);

// Moves the root directory and the timeline's allocation table to the front, as a recorder has
// them, so that cutting the file short leaves them whole. Every sector moves two places on.
bool MoveDirectoryToFront(std::string& file, std::string& error);

constexpr unsigned VideoStream = 2; // ffmpeg numbers the streams of a WTV file from 2

// Marks the file as protected the way a recorder's file shows it: the video's first timestamp
// chunk becomes a protection-information chunk of the same size.
void MarkProtected(std::string& file, const Layout& layout);

// Names `stream`'s language (three letters) as a recorder does, in a language event before the
// data: ffmpeg's first index chunk, which no reader needs, becomes one. False when there is none.
bool NameLanguage(std::string& file, const Layout& layout, unsigned stream, const char* code);

// Fills every data chunk of the video with one byte value: payload as encrypted, without sync words.
void Scramble(std::string& file, const Layout& layout);

// The timeline's allocation table (ffmpeg's, of depth 1) up to its first unused entry.
std::vector<uint32_t> TimelineTable(const std::string& file, const Layout& layout);
// Appends a 4 KiB allocation table listing `sectors` (at most 1024, the rest unused) and gives its
// sector number; the file is first padded to whole sectors.
uint32_t AppendTable(std::string& file, const std::vector<uint32_t>& sectors);
// Makes the directory claim `bytes` as the timeline's length, as damage that would matter has it.
void ClaimTimelineLength(std::string& file, const Layout& layout, uint64_t bytes);
// Makes the timeline's own table list `sectors` (at most 1024) instead, its claimed length theirs.
void ListTimeline(std::string& file, const Layout& layout, std::vector<uint32_t> sectors);
// Makes the timeline's allocation table the one at `sector`, of depth 1 or 2.
void PlaceTimeline(std::string& file, const Layout& layout, uint32_t sector, uint32_t depth);
// Where the directory entry named `name` holds its first sector; 0 when there is no such entry.
uint64_t FirstSectorField(const std::string& file, const Layout& layout, const std::string& name);

// Adds a caption stream as recorders declare digital captions (one field-1 pair a sample) to an
// ffmpeg-written file, in a timeline written anew after the file's end: samples[i] (none when
// empty) goes with the time of the i-th picture shown, after the video chunk that first reaches
// that time. `shown` gets the pictures' times in display order (100 ns).
bool AddCaptions(std::string& file, const std::vector<std::string>& samples, std::vector<int64_t>& shown, std::string& error);

void PutU32(std::string& file, uint64_t at, uint32_t value);
uint32_t GetU32(const std::string& file, uint64_t at);

} // namespace test_wtv
