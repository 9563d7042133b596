#include "media/mpeg/AvcSyntax.h"

#include <algorithm>

#include "media/mpeg/RbspReader.h"

namespace mpeg {
namespace {

void SkipScalingList(CRbspReader& r, int size)
{
    int last = 8, next = 8;
    for (int j = 0; j < size && !r.Failed(); ++j) {
        if (next != 0)
            next = (last + r.Se() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

// Gives the first CPB's rate and size.
void ParseHrd(CRbspReader& r, AvcSps& sps, bool keep)
{
    const uint32_t count = r.Ue() + 1;
    if (count > 32) {
        r.Fail();
        return;
    }
    const uint32_t rateScale = r.Bits(4);
    const uint32_t sizeScale = r.Bits(4);
    for (uint32_t i = 0; i < count && !r.Failed(); ++i) {
        const uint64_t rate = (uint64_t(r.Ue()) + 1) << (6 + rateScale);
        const uint64_t size = (uint64_t(r.Ue()) + 1) << (4 + sizeScale);
        r.Bit();
        if (i == 0 && keep) {
            sps.bitRate = rate > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(rate);
            sps.cpbBytes = size / 8 > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size / 8);
        }
    }
    r.Bits(5); // initial_cpb_removal_delay_length_minus1
    sps.cpbRemovalDelayLength = static_cast<int>(r.Bits(5)) + 1;
    sps.dpbOutputDelayLength = static_cast<int>(r.Bits(5)) + 1;
    r.Bits(5); // time_offset_length
    sps.hrdDelays = true;
}

void ParseVui(CRbspReader& r, AvcSps& sps)
{
    if (r.Bit()) { // aspect_ratio_info_present_flag
        static const uint8_t sar[17][2] = {{0, 0},   {1, 1},   {12, 11}, {10, 11}, {16, 11}, {40, 33},
                                           {24, 11}, {20, 11}, {32, 11}, {80, 33}, {18, 11}, {15, 11},
                                           {64, 33}, {160, 99}, {4, 3},  {3, 2},   {2, 1}};
        const uint32_t idc = r.Bits(8);
        if (idc == 255) {
            sps.sarWidth = r.Bits(16);
            sps.sarHeight = r.Bits(16);
        } else if (idc < 17) {
            sps.sarWidth = sar[idc][0];
            sps.sarHeight = sar[idc][1];
        }
    }
    if (r.Bit()) // overscan_info_present_flag
        r.Bit();
    if (r.Bit()) { // video_signal_type_present_flag
        r.Bits(4);
        if (r.Bit())
            r.Bits(24);
    }
    if (r.Bit()) { // chroma_loc_info_present_flag
        r.Ue();
        r.Ue();
    }
    if (r.Bit()) { // timing_info_present_flag
        sps.numUnitsInTick = r.Bits(32);
        sps.timeScale = r.Bits(32);
        r.Bit();
        if (sps.numUnitsInTick == 0 || sps.timeScale == 0)
            sps.numUnitsInTick = sps.timeScale = 0;
    }
    const bool nalHrd = r.Bit() != 0;
    if (nalHrd)
        ParseHrd(r, sps, true);
    const bool vclHrd = r.Bit() != 0;
    if (vclHrd)
        ParseHrd(r, sps, !nalHrd);
    if (nalHrd || vclHrd)
        r.Bit(); // low_delay_hrd_flag
    sps.picStructPresent = r.Bit() != 0;
    if (r.Bit()) { // bitstream_restriction_flag
        r.Bit();
        r.Ue();
        r.Ue();
        r.Ue();
        r.Ue();
        const uint32_t reorder = r.Ue();
        r.Ue();
        if (!r.Failed() && reorder <= 16)
            sps.maxNumReorderFrames = static_cast<int>(reorder);
    }
}

bool HighProfile(int idc)
{
    switch (idc) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128: case 138: case 139:
    case 134: case 135:
        return true;
    default:
        return false;
    }
}

} // namespace

int ParseAvcSps(const uint8_t* nal, size_t size, AvcSps& sps)
{
    if (size < 4 || NalType(nal[0]) != nal::Sps)
        return -1;
    CRbspReader r(nal + 1, size - 1);
    AvcSps parsed;
    parsed.profileIdc = static_cast<int>(r.Bits(8));
    r.Bits(8);
    parsed.levelIdc = static_cast<int>(r.Bits(8));
    const uint32_t id = r.Ue();
    uint32_t chroma = 1;
    if (HighProfile(parsed.profileIdc)) {
        chroma = r.Ue();
        if (chroma > 3)
            return -1;
        if (chroma == 3)
            parsed.separateColourPlane = r.Bit() != 0;
        r.Ue();
        r.Ue();
        r.Bit();
        if (r.Bit()) { // seq_scaling_matrix_present_flag
            for (int i = 0; i < (chroma != 3 ? 8 : 12); ++i)
                if (r.Bit())
                    SkipScalingList(r, i < 6 ? 16 : 64);
        }
    }
    const uint32_t frameNumBits = r.Ue() + 4;
    const uint32_t pocType = r.Ue();
    if (id >= MaxSpsCount || frameNumBits > 16 || pocType > 2)
        return -1;
    parsed.log2MaxFrameNum = static_cast<int>(frameNumBits);
    parsed.pocType = static_cast<int>(pocType);
    if (pocType == 0) {
        const uint32_t lsbBits = r.Ue() + 4;
        if (lsbBits > 16)
            return -1;
        parsed.log2MaxPocLsb = static_cast<int>(lsbBits);
    } else if (pocType == 1) {
        parsed.deltaPicOrderAlwaysZero = r.Bit() != 0;
        r.Se();
        r.Se();
        const uint32_t cycle = r.Ue();
        if (cycle > 255)
            return -1;
        for (uint32_t i = 0; i < cycle && !r.Failed(); ++i)
            r.Se();
    }
    r.Ue(); // max_num_ref_frames
    r.Bit();
    const uint32_t widthMbs = r.Ue() + 1;
    const uint32_t heightUnits = r.Ue() + 1;
    parsed.frameMbsOnly = r.Bit() != 0;
    if (!parsed.frameMbsOnly)
        r.Bit(); // mb_adaptive_frame_field_flag
    r.Bit();
    // 8192 pixels either way is beyond every level.
    if (widthMbs > 512 || heightUnits > 512)
        return -1;
    unsigned width = widthMbs * 16;
    unsigned height = heightUnits * 16 * (parsed.frameMbsOnly ? 1 : 2);
    if (r.Bit()) { // frame_cropping_flag
        const unsigned cropX = chroma == 1 || chroma == 2 ? 2 : 1;
        const unsigned cropY = (chroma == 1 ? 2 : 1) * (parsed.frameMbsOnly ? 1 : 2);
        const uint32_t left = r.Ue(), right = r.Ue(), top = r.Ue(), bottom = r.Ue();
        const uint64_t cropWidth = (uint64_t(left) + right) * cropX, cropHeight = (uint64_t(top) + bottom) * cropY;
        if (cropWidth >= width || cropHeight >= height)
            return -1;
        width -= static_cast<unsigned>(cropWidth);
        height -= static_cast<unsigned>(cropHeight);
    }
    parsed.width = width;
    parsed.height = height;
    if (r.Bit())
        ParseVui(r, parsed);
    if (r.Failed())
        return -1;
    parsed.valid = true;
    sps = parsed;
    return static_cast<int>(id);
}

int ParseAvcPps(const uint8_t* nal, size_t size, AvcPps& pps)
{
    if (size < 2 || NalType(nal[0]) != nal::Pps)
        return -1;
    CRbspReader r(nal + 1, size - 1);
    const uint32_t id = r.Ue();
    const uint32_t spsId = r.Ue();
    r.Bit(); // entropy_coding_mode_flag
    const bool bottomPoc = r.Bit() != 0;
    if (r.Failed() || id >= MaxPpsCount || spsId >= MaxSpsCount)
        return -1;
    pps.valid = true;
    pps.spsId = static_cast<int>(spsId);
    pps.bottomFieldPicOrderInFramePresent = bottomPoc;
    return static_cast<int>(id);
}

bool ParseAvcSliceHeader(const uint8_t* nal, size_t size, const AvcSps* spsTable, const AvcPps* ppsTable,
                         AvcSliceHeader& slice)
{
    if (size < 2)
        return false;
    const int type = NalType(nal[0]);
    if (type != nal::Slice && type != nal::IdrSlice)
        return false;
    CRbspReader r(nal + 1, size - 1);
    AvcSliceHeader parsed;
    parsed.nalRefIdc = (nal[0] >> 5) & 3;
    parsed.idr = type == nal::IdrSlice;
    parsed.firstMb = r.Ue();
    if (r.Ue() > 9) // slice_type
        return false;
    const uint32_t ppsId = r.Ue();
    if (r.Failed() || ppsId >= MaxPpsCount || !ppsTable[ppsId].valid)
        return false;
    const AvcPps& pps = ppsTable[ppsId];
    const AvcSps& sps = spsTable[pps.spsId];
    if (!sps.valid)
        return false;
    parsed.ppsId = static_cast<int>(ppsId);
    if (sps.separateColourPlane)
        r.Bits(2);
    parsed.frameNum = r.Bits(sps.log2MaxFrameNum);
    if (!sps.frameMbsOnly) {
        parsed.fieldPic = r.Bit() != 0;
        if (parsed.fieldPic)
            parsed.bottomField = r.Bit() != 0;
    }
    if (parsed.idr)
        parsed.idrPicId = r.Ue();
    if (sps.pocType == 0) {
        parsed.pocLsb = r.Bits(sps.log2MaxPocLsb);
        if (pps.bottomFieldPicOrderInFramePresent && !parsed.fieldPic)
            parsed.deltaPocBottom = r.Se();
    } else if (sps.pocType == 1 && !sps.deltaPicOrderAlwaysZero) {
        parsed.deltaPoc0 = r.Se();
        if (pps.bottomFieldPicOrderInFramePresent && !parsed.fieldPic)
            parsed.deltaPoc1 = r.Se();
    }
    if (r.Failed())
        return false;
    slice = parsed;
    return true;
}

int AvcPicStruct(const uint8_t* nal, size_t size, const AvcSps& sps)
{
    if (size < 2 || NalType(nal[0]) != nal::Sei || !sps.valid || !sps.picStructPresent)
        return -1;
    CSeiMessages messages(nal, size);
    uint32_t type = 0, length = 0;
    while (messages.Next(type, length)) {
        if (type != 1) // pic_timing
            continue;
        CRbspReader& r = messages.Payload();
        if (sps.hrdDelays) {
            r.Bits(sps.cpbRemovalDelayLength);
            r.Bits(sps.dpbOutputDelayLength);
        }
        const int picStruct = static_cast<int>(r.Bits(4));
        return r.Failed() || picStruct > 8 ? -1 : picStruct;
    }
    return -1;
}

int64_t AvcFramePeriod27MHz(const AvcSps& sps)
{
    if (sps.numUnitsInTick == 0 || sps.timeScale == 0)
        return 0;
    const int64_t period = int64_t(54000000) * sps.numUnitsInTick / sps.timeScale;
    return period >= 27000000 / 300 && period <= 2 * 27000000 ? period : 0;
}

int AvcClockTicks(int picStruct, bool fieldPic)
{
    static const int ticks[9] = {2, 1, 1, 2, 2, 3, 3, 4, 6};
    if (picStruct >= 0 && picStruct <= 8)
        return ticks[picStruct];
    return fieldPic ? 1 : 2;
}

namespace {

// cpbBrNalFactor of H.264's Table A-2 (bits per 1000 bits of MaxBR and MaxCPB).
uint64_t CpbBrNalFactor(int profileIdc)
{
    switch (profileIdc) {
    case 100: return 1500;                     // High
    case 110: return 3600;                     // High 10
    case 122: case 244: case 44: return 4800;  // High 4:2:2, High 4:4:4 (Predictive, CAVLC intra)
    default: return 1200;                      // Baseline, Main, Extended
    }
}

// MaxBR and MaxCPB of H.264's Table A-1, in 1000 bits (per second).
bool LevelLimits(int levelIdc, uint64_t& maxBr, uint64_t& maxCpb)
{
    static const struct { int level; uint32_t maxBr, maxCpb; } Levels[] = {
        {9, 128, 350},         {10, 64, 175},         {11, 192, 500},        {12, 384, 1000},       {13, 768, 2000},
        {20, 2000, 2000},      {21, 4000, 4000},      {22, 4000, 4000},      {30, 10000, 10000},    {31, 14000, 14000},
        {32, 20000, 20000},    {40, 20000, 25000},    {41, 50000, 62500},    {42, 50000, 62500},    {50, 135000, 135000},
        {51, 240000, 240000},  {52, 240000, 240000},  {60, 240000, 240000},  {61, 480000, 480000},  {62, 800000, 800000}};
    for (const auto& entry : Levels) {
        if (entry.level == levelIdc) {
            maxBr = entry.maxBr;
            maxCpb = entry.maxCpb;
            return true;
        }
    }
    return false;
}

} // namespace

uint32_t AvcLevelNalBitRate(int profileIdc, int levelIdc)
{
    uint64_t maxBr = 0, maxCpb = 0;
    if (!LevelLimits(levelIdc, maxBr, maxCpb))
        return 0;
    return static_cast<uint32_t>(std::min<uint64_t>(maxBr * CpbBrNalFactor(profileIdc), UINT32_MAX));
}

uint32_t AvcLevelNalCpbBytes(int profileIdc, int levelIdc)
{
    uint64_t maxBr = 0, maxCpb = 0;
    if (!LevelLimits(levelIdc, maxBr, maxCpb))
        return 0;
    return static_cast<uint32_t>(maxCpb * CpbBrNalFactor(profileIdc) / 8);
}

} // namespace mpeg
