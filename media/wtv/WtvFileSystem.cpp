#include "media/wtv/WtvFileSystem.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/MediaErrors.h"
#include "media/ByteCursor.h"
#include "media/FileRead.h"
#include "media/GuidBytes.h"
#include "media/wtv/WtvGuids.h"

namespace wtv {
namespace {

using media::SameGuid;

constexpr size_t HeaderBytes = 0x40;
constexpr uint32_t RootSizeAt = 0x30;
constexpr uint32_t RootSectorAt = 0x38;
// The root directory fits one small sector.
constexpr uint32_t MaxRootBytes = SmallSectorBytes;
constexpr size_t EntryHeadBytes = 40; // GUID, entry length, length and flags, name length
constexpr uint32_t TableEntries = SmallSectorBytes / 4;
constexpr uint64_t LengthMask = (1ull << 48) - 1;
constexpr uint64_t SmallSectorsFlag = 1ull << 63;
constexpr uint64_t InlineFlag = 1ull << 62;
// Past the file's end, beyond what the timeline lists there (a recording cut short, or one still
// being written), other files' and unused sectors: this much. Further is damage.
constexpr uint64_t UnlistedUnits = (64u << 20) / SmallSectorBytes;

struct Entry {
    uint64_t lengthAndFlags;
    uint32_t firstSector;
    uint32_t depth;
    bool attributes;
};

// The entry's UTF-16 name, its trailing NUL padding stripped, equals the ASCII `name`.
bool NameIs(const uint8_t* utf16, uint32_t units, const char* name)
{
    while (units > 0 && utf16[2 * (units - 1)] == 0 && utf16[2 * (units - 1) + 1] == 0)
        --units;
    const size_t length = std::strlen(name);
    if (units != length)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (utf16[2 * i] != static_cast<uint8_t>(name[i]) || utf16[2 * i + 1] != 0)
            return false;
    return true;
}

} // namespace

// Maps virtual files keeping account of the 4 KiB units of the file they list, a bit each up to
// what a file of this size can list. No unit of the timeline may be listed again, in the timeline
// or anywhere else: a few sectors listed over and over would read as a recording of any size.
// Another virtual file that lists a unit twice, or one of another such file's, is only unsound:
// the media does not need it. The timeline is mapped first.
class CMapping {
public:
    enum class Owner { Timeline, Other };

    CMapping(HANDLE file, uint64_t fileBytes) : file_(file), fileUnits_((fileBytes + SmallSectorBytes - 1) / SmallSectorBytes) {}

    // Units that are no virtual file's: the header's, the root directory's.
    void Reserve(uint64_t first, uint64_t count) { reserved_.push_back({first, count}); }

    // The sectors of a virtual file from its directory entry: length and flags, first sector and
    // allocation-table depth (0 one sector, 1 a table of sectors, 2 a table of tables).
    HRESULT Map(uint64_t lengthAndFlags, uint32_t firstSector, uint32_t depth, Owner owner, CVirtualFile& out);

    // Another virtual file listed a unit of the timeline.
    bool SharesTimeline() const { return sharesTimeline_; }

private:
    HRESULT ReadTable(uint32_t sector, Owner owner, std::vector<uint32_t>& entries);
    void Track(uint64_t timelineUnits);
    bool Claim(uint64_t first, uint64_t count, Owner owner);

    HANDLE file_;
    uint64_t fileUnits_;
    std::vector<std::pair<uint64_t, uint64_t>> reserved_; // first unit, count
    uint64_t units_ = 0;
    std::vector<bool> timeline_; // the timeline's units
    std::vector<bool> listed_;   // the header's, the directory's and the other virtual files'
    bool sharesTimeline_ = false;
};

// Sizes the account once the timeline's tables are read: the file's units, those the timeline
// lists (past the end, a recording cut short or still being written lists sectors not there) and a
// margin. The timeline's share is 8 MiB a bitmap at most (1024 tables of 1024 big sectors).
void CMapping::Track(uint64_t timelineUnits)
{
    units_ = fileUnits_ + timelineUnits + UnlistedUnits;
    timeline_.assign(static_cast<size_t>(units_), false);
    listed_.assign(static_cast<size_t>(units_), false);
    for (const auto& [first, count] : reserved_)
        for (uint64_t unit = first; unit < first + count && unit < units_; ++unit)
            listed_[static_cast<size_t>(unit)] = true;
}

// False when a unit lies past what the file can list or is listed already; nothing is taken then.
bool CMapping::Claim(uint64_t first, uint64_t count, Owner owner)
{
    if (first + count > units_)
        return false;
    for (uint64_t unit = first; unit < first + count; ++unit) {
        if (timeline_[static_cast<size_t>(unit)]) {
            sharesTimeline_ = sharesTimeline_ || owner == Owner::Other;
            return false;
        }
        if (listed_[static_cast<size_t>(unit)])
            return false;
    }
    std::vector<bool>& taken = owner == Owner::Timeline ? timeline_ : listed_;
    for (uint64_t unit = first; unit < first + count; ++unit)
        taken[static_cast<size_t>(unit)] = true;
    return true;
}

// A 4 KiB allocation table's entries up to the first unused (zero) one, appended. Another file's
// table is claimed before it is read, so none is read twice; the timeline's are claimed once all
// are read and the account is sized.
HRESULT CMapping::ReadTable(uint32_t sector, Owner owner, std::vector<uint32_t>& entries)
{
    if (sector == 0 || (owner == Owner::Other && !Claim(sector, 1, owner)))
        return HALVERN_E_BAD_HEADER;
    uint8_t table[SmallSectorBytes];
    size_t got = 0;
    HRESULT hr = media::ReadAt(file_, static_cast<uint64_t>(sector) * SmallSectorBytes, table, sizeof(table), got);
    if (FAILED(hr))
        return hr;
    if (got < sizeof(table))
        return HALVERN_E_BAD_HEADER;
    media::CByteCursor cursor(table, sizeof(table));
    for (uint32_t i = 0; i < TableEntries; ++i) {
        const uint32_t entry = cursor.U32();
        if (entry == 0)
            break;
        entries.push_back(entry);
    }
    return S_OK;
}

HRESULT CMapping::Map(uint64_t lengthAndFlags, uint32_t firstSector, uint32_t depth, Owner owner, CVirtualFile& out)
{
    if ((lengthAndFlags & InlineFlag) || firstSector == 0 || depth > 2)
        return HALVERN_E_BAD_HEADER;
    out = CVirtualFile();
    out.sectorBytes_ = (lengthAndFlags & SmallSectorsFlag) ? SmallSectorBytes : BigSectorBytes;
    std::vector<uint32_t> tables;
    HRESULT hr = S_OK;
    if (depth == 0) {
        out.sectors_.push_back(firstSector);
    } else if (depth == 1) {
        tables.push_back(firstSector);
        hr = ReadTable(firstSector, owner, out.sectors_);
    } else {
        // At most 1024 tables of 1024 sectors: 4 MiB of sector numbers whatever the file claims.
        // A table listed twice is refused before it is read twice.
        hr = ReadTable(firstSector, owner, tables);
        std::vector<uint32_t> sorted(tables);
        std::sort(sorted.begin(), sorted.end());
        if (SUCCEEDED(hr) && std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
            return HALVERN_E_BAD_HEADER;
        for (size_t i = 0; SUCCEEDED(hr) && i < tables.size(); ++i)
            hr = ReadTable(tables[i], owner, out.sectors_);
        tables.push_back(firstSector);
    }
    if (FAILED(hr))
        return hr;
    const uint32_t span = out.sectorBytes_ / SmallSectorBytes;
    if (owner == Owner::Timeline) {
        Track(static_cast<uint64_t>(out.sectors_.size()) * span + tables.size());
        for (const uint32_t table : tables)
            if (!Claim(table, 1, owner))
                return HALVERN_E_BAD_HEADER;
    }
    for (const uint32_t sector : out.sectors_)
        if (!Claim(sector, span, owner))
            return HALVERN_E_BAD_HEADER;
    out.length_ = std::min(lengthAndFlags & LengthMask, out.Extent());
    return S_OK;
}

bool IsWtvFile(const uint8_t* data, size_t size)
{
    return size >= sizeof(GUID) && SameGuid(data, FileMagic);
}

HRESULT MapFiles(HANDLE file, CVirtualFile& timeline, CVirtualFile& attributes)
{
    uint8_t head[HeaderBytes];
    size_t got = 0;
    HRESULT hr = media::ReadAt(file, 0, head, sizeof(head), got);
    if (FAILED(hr))
        return hr;
    if (!IsWtvFile(head, got))
        return HALVERN_E_NOT_RECORDING;
    if (got < sizeof(head))
        return HALVERN_E_BAD_HEADER;
    media::CByteCursor fields(head, sizeof(head));
    fields.Skip(RootSizeAt);
    const uint32_t rootBytes = fields.U32();
    fields.Skip(RootSectorAt - RootSizeAt - 4);
    const uint32_t rootSector = fields.U32();
    if (rootBytes < EntryHeadBytes || rootBytes > MaxRootBytes || rootSector == 0)
        return HALVERN_E_BAD_HEADER;
    uint8_t root[MaxRootBytes];
    hr = media::ReadAt(file, static_cast<uint64_t>(rootSector) * SmallSectorBytes, root, rootBytes, got);
    if (FAILED(hr))
        return hr;
    if (got < rootBytes)
        return HALVERN_E_BAD_HEADER;
    uint64_t fileBytes = 0;
    hr = media::CurrentSize(file, fileBytes);
    if (FAILED(hr))
        return hr;

    timeline = CVirtualFile();
    attributes = CVirtualFile();
    Entry timelineEntry = {};
    bool found = false;
    std::vector<Entry> others; // fewer than a hundred: the directory is one sector
    for (uint32_t at = 0; at + EntryHeadBytes <= rootBytes && SameGuid(root + at, DirectoryEntry);) {
        media::CByteCursor entry(root + at + 16, rootBytes - at - 16);
        const uint32_t entryBytes = entry.U16();
        entry.Skip(6);
        const uint64_t lengthAndFlags = entry.U64();
        const uint32_t nameUnits = entry.U32();
        entry.Skip(4);
        // The name, then the first sector and the table depth, all within the entry.
        if (entryBytes < EntryHeadBytes || entryBytes > rootBytes - at ||
            nameUnits > (entryBytes - EntryHeadBytes) / 2 || EntryHeadBytes + 2 * nameUnits + 8 > entryBytes)
            return HALVERN_E_BAD_HEADER;
        const uint8_t* name = root + at + EntryHeadBytes;
        media::CByteCursor place(name + 2 * nameUnits, 8);
        const uint32_t firstSector = place.U32();
        const uint32_t depth = place.U32();
        const Entry declared = {lengthAndFlags, firstSector, depth, NameIs(name, nameUnits, "table.0.entries.legacy_attrib")};
        if (!found && NameIs(name, nameUnits, "timeline")) {
            timelineEntry = declared;
            found = true;
        } else if (!(lengthAndFlags & InlineFlag)) {
            others.push_back(declared);
        }
        at += entryBytes;
    }
    if (!found)
        return HALVERN_E_BAD_HEADER;

    // The timeline first: it takes its units whole or the recording is damaged. Each other file
    // then meets the timeline's units or is mapped or dropped on its own.
    CMapping mapping(file, fileBytes);
    mapping.Reserve(0, 1);
    mapping.Reserve(rootSector, (rootBytes + SmallSectorBytes - 1) / SmallSectorBytes);
    hr = mapping.Map(timelineEntry.lengthAndFlags, timelineEntry.firstSector, timelineEntry.depth, CMapping::Owner::Timeline, timeline);
    if (FAILED(hr))
        return hr;
    for (const Entry& entry : others) {
        CVirtualFile other;
        const bool sound = SUCCEEDED(mapping.Map(entry.lengthAndFlags, entry.firstSector, entry.depth, CMapping::Owner::Other, other));
        if (mapping.SharesTimeline())
            return HALVERN_E_BAD_HEADER;
        if (sound && entry.attributes && attributes.Extent() == 0)
            attributes = std::move(other);
    }
    return S_OK;
}

HRESULT CVirtualFile::Read(HANDLE file, uint64_t offset, uint8_t* buffer, size_t size, size_t& got) const
{
    got = 0;
    while (got < size) {
        const uint64_t at = offset + got;
        const uint64_t index = at / sectorBytes_;
        if (index >= sectors_.size())
            return S_OK;
        // The run of sectors that follow each other in the file from here.
        uint64_t last = index;
        const uint32_t step = sectorBytes_ / SmallSectorBytes;
        const uint64_t wantEnd = at + (size - got);
        while (last + 1 < sectors_.size() && (last + 1) * sectorBytes_ < wantEnd &&
               static_cast<uint64_t>(sectors_[static_cast<size_t>(last) + 1]) ==
                   static_cast<uint64_t>(sectors_[static_cast<size_t>(last)]) + step)
            ++last;
        const uint64_t within = at - index * sectorBytes_;
        const uint64_t runBytes = (last - index + 1) * sectorBytes_ - within;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(runBytes, size - got));
        size_t read = 0;
        HRESULT hr = media::ReadAt(file, static_cast<uint64_t>(sectors_[static_cast<size_t>(index)]) * SmallSectorBytes + within,
                                   buffer + got, want, read);
        if (FAILED(hr))
            return hr;
        got += read;
        if (read < want)
            return S_OK; // the file ends here
    }
    return S_OK;
}

} // namespace wtv
