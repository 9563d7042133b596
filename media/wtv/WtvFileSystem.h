#pragma once
// The small file system a WTV file is: sector 0 names the root directory, whose entries name
// virtual files ("timeline" holds the media) and their allocation tables. Sector numbers count
// 4 KiB units whatever the sector size of the virtual file.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wtv {

class CMapping;

inline constexpr uint32_t SmallSectorBytes = 4096;
inline constexpr uint32_t BigSectorBytes = 256 * 1024;

// Where the bytes of a virtual file lie in the file.
class CVirtualFile {
public:
    // As the directory declares it, but never more than its sectors hold.
    uint64_t Length() const { return length_; }
    // What its listed sectors hold: the length of a recorder that stopped updating the directory
    // may fall short of it.
    uint64_t Extent() const { return static_cast<uint64_t>(sectors_.size()) * sectorBytes_; }

    // Reads up to `size` bytes at `offset`, runs of adjacent sectors in one read each. `got` is
    // less where the listed sectors end or where the file does (a file cut short).
    HRESULT Read(HANDLE file, uint64_t offset, uint8_t* buffer, size_t size, size_t& got) const;

private:
    friend class CMapping;

    uint64_t length_ = 0;
    uint32_t sectorBytes_ = SmallSectorBytes;
    std::vector<uint32_t> sectors_; // 4 KiB units, in the file's order
};

// Whether the first bytes of a file are a WTV file's.
bool IsWtvFile(const uint8_t* data, size_t size);

// Reads the header and the root directory and maps the timeline's sectors, and those of the
// attribute table when it is there and sound (it is not needed for the media: empty otherwise).
// HALVERN_E_NOT_RECORDING when the file is not WTV; HALVERN_E_BAD_HEADER when the header, the
// directory or the timeline's allocation table is cut short, contradicts itself, or there is no
// timeline; also when a 4 KiB unit of the timeline (its data or its tables) is listed twice, is
// the header's or the directory's or another virtual file's, or lies far past the file's end.
// So the timeline never holds more than the file does.
HRESULT MapFiles(HANDLE file, CVirtualFile& timeline, CVirtualFile& attributes);

} // namespace wtv
