#include "tests/media/WtvEdits.h"

#include <algorithm>
#include <climits>
#include <cstddef>

namespace test_wtv {
namespace {

constexpr uint32_t Sector = 4096;
// GUIDs as stored on disk.
const std::string DirectoryEntryGuid("\x92\xB7\x74\x91\x59\x70\x70\x44\x88\xDF\x06\x3B\x82\xCC\x21\x3D", 16);
const std::string DataGuid("\x95\xC3\xD2\xC2\x7E\x9A\xDA\x11\x8B\xF7\x00\x07\xE9\x5E\xAD\x8D", 16);
const std::string TimestampGuid("\x5B\x05\xE6\x1B\x97\xA9\x49\x43\x88\x17\x1A\x65\x5A\x29\x8A\x97", 16);
const std::string DescriptionGuid("\xED\xA4\x13\x23\x2D\xBF\x4F\x45\xAD\x8A\xD9\x5B\xA7\xF9\x1F\xEE", 16);
// MSTVCaption major type, DTVCC data subtype.
const std::string CaptionsMajorGuid("\x89\x8A\x8B\xB8\x49\xB0\x80\x4C\xAD\xCF\x58\x98\x98\x5E\x22\xC1", 16);
const std::string CaptionDataGuid("\xAA\xDD\x2A\xF5\xF0\x36\xF5\x43\x95\xEA\x6D\x86\x64\x84\x26\x2A", 16);
// E292666D-9C02-448D-AA8D-781A93FDC395 and ffmpeg's index chunk C2D2C396-9A7E-11DA-8BF7-0007E95EAD8D.
const std::string LanguageGuid("\x6D\x66\x92\xE2\x02\x9C\x8D\x44\xAA\x8D\x78\x1A\x93\xFD\xC3\x95", 16);
const std::string IndexGuid("\x96\xC3\xD2\xC2\x7E\x9A\xDA\x11\x8B\xF7\x00\x07\xE9\x5E\xAD\x8D", 16);
const std::string ProtectionGuid("\x83\x95\x74\x40\x9D\x6B\xEC\x4E\xB4\x3C\x67\xA1\x80\x1E\x1A\x9B", 16);

uint64_t GetU64(const std::string& file, uint64_t at)
{
    return GetU32(file, at) | static_cast<uint64_t>(GetU32(file, at + 4)) << 32;
}

// The offset of the directory entry named `name`; 0 when there is none.
uint64_t FindEntry(const std::string& file, uint64_t rootAt, uint32_t rootBytes, const std::string& name)
{
    for (uint64_t at = rootAt; at + 48 <= rootAt + rootBytes && file.compare(at, 16, DirectoryEntryGuid) == 0;) {
        std::string ascii;
        for (uint32_t i = 0; i < GetU32(file, at + 32); ++i)
            if (file[at + 40 + 2 * i] != 0)
                ascii += file[at + 40 + 2 * i];
        if (ascii == name)
            return at;
        at += static_cast<uint8_t>(file[at + 16]) | static_cast<uint8_t>(file[at + 17]) << 8;
    }
    return 0;
}

// A chunk like `model` (its head, and its body up to `keep` bytes) for `stream`, sized and padded.
std::string ChunkLike(const std::string& model, size_t keep, unsigned stream, const std::string& body = std::string())
{
    std::string chunk = model.substr(0, keep) + body;
    PutU32(chunk, 16, static_cast<uint32_t>(chunk.size()));
    PutU32(chunk, 20, (GetU32(chunk, 20) & ~0x7FFFu) | stream);
    chunk.resize((chunk.size() + 7) & ~size_t(7), '\0');
    return chunk;
}

} // namespace

void PutU32(std::string& file, uint64_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        file[at + i] = static_cast<char>(value >> (8 * i));
}

uint32_t GetU32(const std::string& file, uint64_t at)
{
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<uint8_t>(file[at + i])) << (8 * i);
    return value;
}

bool ReadLayout(const std::string& file, Layout& layout, std::string& error)
{
    layout = Layout();
    if (file.size() < Sector) {
        error = "shorter than a sector";
        return false;
    }
    layout.rootBytes = GetU32(file, 0x30);
    layout.rootAt = static_cast<uint64_t>(GetU32(file, 0x38)) * Sector;
    if (layout.rootAt + layout.rootBytes <= file.size())
        layout.timelineEntryAt = FindEntry(file, layout.rootAt, layout.rootBytes, "timeline");
    if (layout.timelineEntryAt == 0) {
        error = "no timeline in the directory";
        return false;
    }
    layout.timelineLength = GetU64(file, layout.timelineEntryAt + 24) & ((1ull << 48) - 1);
    // ffmpeg's timeline: 4 KiB sectors one after another, through a depth-1 table.
    const uint64_t sectorAt = layout.timelineEntryAt + 40 + 2 * GetU32(file, layout.timelineEntryAt + 32);
    layout.tableAt = static_cast<uint64_t>(GetU32(file, sectorAt)) * Sector;
    const uint64_t table = layout.tableAt;
    if (GetU32(file, sectorAt + 4) != 1 || table + Sector > file.size() || GetU32(file, table) == 0 ||
        GetU32(file, table + 4) != GetU32(file, table) + 1) {
        error = "the timeline is not one run of 4 KiB sectors";
        return false;
    }
    layout.timelineAt = static_cast<uint64_t>(GetU32(file, table)) * Sector;
    for (uint64_t at = 0; at + 32 <= layout.timelineLength && layout.timelineAt + at + 32 <= file.size();) {
        Chunk chunk;
        chunk.at = layout.timelineAt + at;
        chunk.size = GetU32(file, chunk.at + 16);
        chunk.stream = GetU32(file, chunk.at + 20) & 0x7FFF;
        chunk.data = file.compare(chunk.at, 16, DataGuid) == 0;
        chunk.timestamp = file.compare(chunk.at, 16, TimestampGuid) == 0;
        if (chunk.size < 32)
            break;
        layout.chunks.push_back(chunk);
        at += (chunk.size + 7) & ~7u;
    }
    return true;
}

bool MoveDirectoryToFront(std::string& file, std::string& error)
{
    Layout layout;
    if (!ReadLayout(file, layout, error))
        return false;
    std::string root = file.substr(layout.rootAt, layout.rootBytes);
    std::string table = file.substr(layout.tableAt, Sector);
    for (uint64_t at = 0; at + 4 <= Sector && GetU32(table, at) != 0; at += 4)
        PutU32(table, at, GetU32(table, at) + 2);
    // Every entry's first sector moves on with its sector; the timeline's names the moved table.
    for (uint64_t at = 0; at + 48 <= root.size() && root.compare(at, 16, DirectoryEntryGuid) == 0;) {
        const uint64_t field = at + 40 + 2 * GetU32(root, at + 32);
        const bool inlined = (GetU64(root, at + 24) >> 62) & 1;
        if (at + layout.rootAt == layout.timelineEntryAt)
            PutU32(root, field, 2);
        else if (!inlined && GetU32(root, field) != 0xFFFFFFFF)
            PutU32(root, field, GetU32(root, field) + 2);
        at += static_cast<uint8_t>(root[at + 16]) | static_cast<uint8_t>(root[at + 17]) << 8;
    }
    root.resize(Sector, '\0');
    std::string moved = file.substr(0, Sector) + root + table + file.substr(Sector);
    PutU32(moved, 0x38, 1);
    file = moved;
    return true;
}

std::vector<uint32_t> TimelineTable(const std::string& file, const Layout& layout)
{
    std::vector<uint32_t> sectors;
    for (uint64_t at = layout.tableAt; at < layout.tableAt + Sector && GetU32(file, at) != 0; at += 4)
        sectors.push_back(GetU32(file, at));
    return sectors;
}

uint32_t AppendTable(std::string& file, const std::vector<uint32_t>& sectors)
{
    file.resize((file.size() + Sector - 1) / Sector * Sector, '\0');
    const uint32_t sector = static_cast<uint32_t>(file.size() / Sector);
    file.resize(file.size() + Sector, '\0');
    for (size_t i = 0; i < sectors.size() && i < Sector / 4; ++i)
        PutU32(file, static_cast<uint64_t>(sector) * Sector + 4 * i, sectors[i]);
    return sector;
}

void ClaimTimelineLength(std::string& file, const Layout& layout, uint64_t bytes)
{
    PutU32(file, layout.timelineEntryAt + 24, static_cast<uint32_t>(bytes));
    const uint32_t high = GetU32(file, layout.timelineEntryAt + 28);
    PutU32(file, layout.timelineEntryAt + 28, (high & 0xFFFF0000) | static_cast<uint32_t>(bytes >> 32));
}

void ListTimeline(std::string& file, const Layout& layout, std::vector<uint32_t> sectors)
{
    ClaimTimelineLength(file, layout, sectors.size() * Sector);
    sectors.resize(Sector / 4, 0);
    for (size_t i = 0; i < sectors.size(); ++i)
        PutU32(file, layout.tableAt + 4 * i, sectors[i]);
}

void PlaceTimeline(std::string& file, const Layout& layout, uint32_t sector, uint32_t depth)
{
    const uint64_t field = layout.timelineEntryAt + 40 + 2 * GetU32(file, layout.timelineEntryAt + 32);
    PutU32(file, field, sector);
    PutU32(file, field + 4, depth);
}

uint64_t FirstSectorField(const std::string& file, const Layout& layout, const std::string& name)
{
    const uint64_t entry = FindEntry(file, layout.rootAt, layout.rootBytes, name);
    return entry == 0 ? 0 : entry + 40 + 2 * GetU32(file, entry + 32);
}

bool AddCaptions(std::string& file, const std::vector<std::string>& samples, std::vector<int64_t>& shown, std::string& error)
{
    Layout layout;
    if (!ReadLayout(file, layout, error))
        return false;
    const auto bytes = [&](const Chunk& chunk) { return file.substr(chunk.at, (chunk.size + 7) & ~7u); };
    unsigned stream = 0;
    std::string description, timestamp, data;
    shown.clear();
    for (const Chunk& chunk : layout.chunks) {
        stream = std::max(stream, chunk.stream + 1);
        if (chunk.stream != VideoStream)
            continue;
        if (file.compare(chunk.at, 16, DescriptionGuid) == 0 && chunk.size >= 124)
            description = bytes(chunk);
        if (chunk.timestamp) {
            timestamp = bytes(chunk);
            shown.push_back(static_cast<int64_t>(GetU64(file, chunk.at + 40)));
        }
        if (chunk.data && data.empty())
            data = bytes(chunk);
    }
    if (description.empty() || timestamp.size() < 56 || data.empty()) {
        error = "no video description, timestamp or data chunk";
        return false;
    }
    std::sort(shown.begin(), shown.end());
    // The video's description made the captions': their type, no format block.
    description = ChunkLike(description, 124, stream);
    description.replace(60, 16, CaptionsMajorGuid);
    description.replace(76, 16, CaptionDataGuid);
    description.replace(104, 16, 16, '\0');
    PutU32(description, 120, 0);

    std::string timeline;
    int64_t reached = INT64_MIN;
    size_t next = 0;
    for (const Chunk& chunk : layout.chunks) {
        timeline += bytes(chunk);
        if (chunk.stream != VideoStream)
            continue;
        if (file.compare(chunk.at, 16, DescriptionGuid) == 0)
            timeline += description;
        if (chunk.timestamp)
            reached = std::max(reached, static_cast<int64_t>(GetU64(file, chunk.at + 40)));
        for (; chunk.data && next < shown.size() && shown[next] <= reached; ++next) {
            if (next >= samples.size() || samples[next].empty())
                continue;
            std::string time = ChunkLike(timestamp, timestamp.size(), stream);
            for (uint64_t at : {40, 48}) {
                PutU32(time, at, static_cast<uint32_t>(shown[next]));
                PutU32(time, at + 4, static_cast<uint32_t>(static_cast<uint64_t>(shown[next]) >> 32));
            }
            timeline += time + ChunkLike(data, 32, stream, samples[next]);
        }
    }
    // The new timeline's sectors after the file's end, then their tables and the table of those.
    file.resize((file.size() + Sector - 1) / Sector * Sector, '\0');
    const uint32_t first = static_cast<uint32_t>(file.size() / Sector);
    file += timeline;
    std::vector<uint32_t> sectors, tables;
    for (uint32_t s = first; static_cast<uint64_t>(s) * Sector < first * uint64_t(Sector) + timeline.size(); ++s)
        sectors.push_back(s);
    for (size_t at = 0; at < sectors.size(); at += Sector / 4)
        tables.push_back(AppendTable(file, std::vector<uint32_t>(sectors.begin() + static_cast<ptrdiff_t>(at), sectors.end())));
    PlaceTimeline(file, layout, AppendTable(file, tables), 2);
    ClaimTimelineLength(file, layout, timeline.size());
    return true;
}

void MarkProtected(std::string& file, const Layout& layout)
{
    for (const Chunk& chunk : layout.chunks) {
        if (chunk.timestamp && chunk.stream == VideoStream) {
            file.replace(chunk.at, 16, ProtectionGuid);
            return;
        }
    }
}

bool NameLanguage(std::string& file, const Layout& layout, unsigned stream, const char* code)
{
    for (const Chunk& chunk : layout.chunks) {
        if (chunk.size >= 48 && file.compare(chunk.at, 16, IndexGuid) == 0) {
            file.replace(chunk.at, 16, LanguageGuid);
            PutU32(file, chunk.at + 20, stream);
            file.replace(chunk.at + 44, 3, code, 3);
            return true;
        }
    }
    return false;
}

void Scramble(std::string& file, const Layout& layout)
{
    for (const Chunk& chunk : layout.chunks)
        if (chunk.data && chunk.stream == VideoStream)
            file.replace(chunk.at + 32, chunk.size - 32, chunk.size - 32, '\xA5');
}

} // namespace test_wtv
