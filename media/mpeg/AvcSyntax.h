#pragma once
// The H.264 (ITU-T H.264) syntax that timing needs: NAL unit headers, sequence and picture
// parameter sets (with the VUI's timing, HRD and reordering), the first fields of a slice header,
// and pic_struct from a picture timing SEI. Parsed in place, emulation prevention bytes skipped as
// they are read; a value out of the standard's range fails the parse rather than being used.

#include <cstddef>
#include <cstdint>

namespace mpeg {

namespace nal {
constexpr int Slice = 1;
constexpr int IdrSlice = 5;
constexpr int Sei = 6;
constexpr int Sps = 7;
constexpr int Pps = 8;
constexpr int AccessUnitDelimiter = 9;
constexpr int EndOfSequence = 10;
} // namespace nal

constexpr int NalType(uint8_t header) { return header & 0x1F; }

struct AvcSps {
    bool valid = false;
    int profileIdc = 0;
    int levelIdc = 0;
    int log2MaxFrameNum = 4;
    int pocType = 0;
    int log2MaxPocLsb = 4;
    bool deltaPicOrderAlwaysZero = false;
    bool frameMbsOnly = true;
    bool separateColourPlane = false;
    unsigned width = 0;  // after cropping
    unsigned height = 0;
    unsigned sarWidth = 0, sarHeight = 0; // 0 when not given
    // VUI
    uint32_t numUnitsInTick = 0; // 0 when the VUI gives no timing
    uint32_t timeScale = 0;
    bool hrdDelays = false;      // NAL or VCL HRD present: pic timing SEI carries its delays
    int cpbRemovalDelayLength = 24;
    int dpbOutputDelayLength = 24;
    bool picStructPresent = false;
    int maxNumReorderFrames = -1; // -1 when the VUI does not say
    uint32_t bitRate = 0;        // of the first CPB, NAL HRD preferred; 0 when none
    uint32_t cpbBytes = 0;
};

struct AvcPps {
    bool valid = false;
    int spsId = 0;
    bool bottomFieldPicOrderInFramePresent = false;
};

struct AvcSliceHeader {
    int nalRefIdc = 0;
    bool idr = false;
    uint32_t firstMb = 0;
    int ppsId = 0;
    uint32_t frameNum = 0;
    bool fieldPic = false;
    bool bottomField = false;
    uint32_t idrPicId = 0;
    uint32_t pocLsb = 0;
    int32_t deltaPocBottom = 0;
    int32_t deltaPoc0 = 0, deltaPoc1 = 0;
};

// `nal` points at the NAL header byte; `size` runs to the NAL's end (or as far as it is known).
// Gives the id, or -1 when the unit does not parse.
int ParseAvcSps(const uint8_t* nal, size_t size, AvcSps& sps);
int ParseAvcPps(const uint8_t* nal, size_t size, AvcPps& pps);
constexpr int MaxSpsCount = 32;
constexpr int MaxPpsCount = 256;
// The slice header's fields up to its picture order count, with the parameter sets it names.
bool ParseAvcSliceHeader(const uint8_t* nal, size_t size, const AvcSps* spsTable, const AvcPps* ppsTable,
                         AvcSliceHeader& slice);
// pic_struct of the picture timing SEI message in the unit, -1 when it has none.
int AvcPicStruct(const uint8_t* nal, size_t size, const AvcSps& sps);
// A frame (two clock ticks) in 27 MHz ticks; 0 when the VUI gives no timing, or a rate no video
// has (below one frame in two seconds or above 300 a second).
int64_t AvcFramePeriod27MHz(const AvcSps& sps);
// How many clock ticks (fields of a frame) a picture lasts: by pic_struct when given, else two for
// a frame and one for a field.
int AvcClockTicks(int picStruct, bool fieldPic);

// The limits ITU-T H.264 (Annex A) sets a NAL unit stream of the profile and level: the peak rate
// in bits per second and the coded picture buffer in bytes (MaxBR and MaxCPB times the profile's
// cpbBrNalFactor). 0 for a level it does not list.
uint32_t AvcLevelNalBitRate(int profileIdc, int levelIdc);
uint32_t AvcLevelNalCpbBytes(int profileIdc, int levelIdc);

} // namespace mpeg
