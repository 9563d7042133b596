#include "tests/media/FieldPictureWriter.h"

#include "tests/support/BitWriter.h"

namespace test_recordings {
namespace {

using es_units::BitWriter;

enum Type { I = 1, P = 2, B = 3 };

// One closed GOP of ten frames in decode order: temporal reference and type.
const struct {
    unsigned temporalReference;
    Type type;
} Gop[] = {{0, I}, {3, P}, {1, B}, {2, B}, {6, P}, {4, B}, {5, B}, {9, P}, {7, B}, {8, B}};
constexpr unsigned GopFrames = 10;

// (top_field_first, repeat_first_field) of film frames in display order: 3:2 pulldown in an
// interlaced sequence, whole frames repeated in a progressive one.
const bool Pulldown[4][2] = {{true, true}, {false, false}, {false, true}, {true, false}};
const bool Film720[2][2] = {{true, true}, {false, true}};
const bool Film1080[4][2] = {{false, true}, {false, false}, {false, false}, {false, false}};

struct Format {
    unsigned width, height, rateCode, timeCodeRate;
    bool progressiveSequence;
};

Format FormatOf(FieldCoding coding)
{
    switch (coding) {
    case FieldCoding::Film720p:
        return {1280, 720, 7, 60, true};
    case FieldCoding::Film1080p:
        return {1920, 1080, 4, 30, true};
    default:
        return {1920, 1080, 4, 30, false};
    }
}

const bool* FlagsOf(FieldCoding coding, unsigned display)
{
    switch (coding) {
    case FieldCoding::Film720p:
        return Film720[display % 2];
    case FieldCoding::Film1080p:
        return Film1080[display % 4];
    default:
        return Pulldown[display % 4];
    }
}

// Frames of the sequence's rate (fields in an interlaced one) a picture is shown for.
unsigned Shown(FieldCoding coding, unsigned display)
{
    const bool* flags = FlagsOf(coding, display);
    if (coding == FieldCoding::FieldPictures)
        return 2;
    if (!FormatOf(coding).progressiveSequence)
        return flags[1] ? 3 : 2;
    return flags[1] ? (flags[0] ? 3 : 2) : 1;
}

struct PictureCoding {
    Type type;
    unsigned temporalReference;
    unsigned structure; // 1 top field, 2 bottom field, 3 frame
    bool topFirst, repeatFirst, progressive;
};

// Every macroblock grey: intra with all DC differences 0, or predicted with a zero vector and no
// coefficients. Field pictures choose the reference field of their own parity.
std::string Slices(const Format& format, Type type, unsigned structure)
{
    BitWriter bits;
    const bool field = structure != 3;
    // Interlaced frames are coded in pairs of macroblock rows.
    const unsigned rows = format.progressiveSequence ? (format.height + 15) / 16 : (format.height + 31) / 32 * (field ? 1 : 2);
    for (unsigned row = 0; row < rows; ++row) {
        bits.StartCode(static_cast<uint8_t>(row + 1)).U(8, 5).U(0, 1); // quantiser_scale_code, extra_bit_slice
        for (unsigned mb = 0; mb < (format.width + 15) / 16; ++mb) {
            bits.U(1, 1); // macroblock_address_increment 1
            if (type == I) {
                bits.U(1, 1); // intra
                // dct_dc_size 0 ('100' luma, '00' chroma), end of block '10'
                for (int block = 0; block < 6; ++block)
                    (block < 4 ? bits.U(4, 3) : bits.U(0, 2)).U(2, 2);
                continue;
            }
            bits.U(type == P ? 1 : 2, type == P ? 3 : 4); // forward MC, not coded: '001', '0010'
            if (field)
                bits.U(1, 2).U(structure == 2 ? 1 : 0, 1); // field_motion_type: field prediction; motion_vertical_field_select
            bits.U(1, 1).U(1, 1); // motion_code 0, horizontal and vertical
        }
    }
    return bits.Take();
}

std::string PictureHeaders(const PictureCoding& picture, size_t padding)
{
    BitWriter bits;
    bits.StartCode(0x00).U(picture.temporalReference, 10).U(picture.type, 3).U(0xFFFF, 16); // vbv_delay: variable rate
    if (picture.type != I)
        bits.U(0x7, 4); // full_pel_forward_vector 0, forward_f_code 7
    if (picture.type == B)
        bits.U(0x7, 4);
    bits.U(0, 1); // extra_bit_picture
    const uint32_t forward = picture.type == I ? 0xF : 1, backward = picture.type == B ? 1 : 0xF; // f_codes
    bits.StartCode(0xB5).U(8, 4).U(forward, 4).U(forward, 4).U(backward, 4).U(backward, 4);
    bits.U(0, 2).U(picture.structure, 2).U(picture.topFirst, 1); // intra_dc_precision: 8 bits
    bits.U(picture.structure == 3 ? 1 : 0, 1); // frame_pred_frame_dct
    bits.U(0, 4); // concealment_motion_vectors, q_scale_type, intra_vlc_format, alternate_scan
    // repeat_first_field, chroma_420_type, progressive_frame, composite_display_flag
    bits.U(picture.repeatFirst, 1).U(picture.progressive, 1).U(picture.progressive, 1).U(0, 1);
    std::string bytes = bits.Take();
    if (padding > 4)
        bytes += std::string("\0\0\1\xB2", 4) + std::string(padding - 4, '\xFF');
    return bytes;
}

// 18 Mb/s, a buffer of 488 16 384-bit units (ATSC's largest).
std::string SequenceHeaders(const Format& format, unsigned displayFrame)
{
    BitWriter bits;
    bits.StartCode(0xB3).U(format.width, 12).U(format.height, 12).U(3, 4).U(format.rateCode, 4); // 16:9
    bits.U(18000000 / 400, 18).U(1, 1).U(488, 10).U(0, 3); // constrained_parameters_flag, no quantiser matrices
    // Main profile at high level, 4:2:0; no size or bit rate extensions, vbv_buffer_size_extension,
    // low_delay, frame_rate_extension_n or _d.
    bits.StartCode(0xB5).U(1, 4).U(0x44, 8).U(format.progressiveSequence, 1).U(1, 2).U(0, 16).U(1, 1).U(0, 16);
    // The GOP's time code counts display frames, 30 or 60 a second, dropping frame numbers; a
    // closed GOP, no broken link.
    const unsigned seconds = displayFrame / format.timeCodeRate;
    bits.StartCode(0xB8).U(1, 1).U(seconds / 3600 % 24, 5).U(seconds / 60 % 60, 6).U(1, 1).U(seconds % 60, 6);
    bits.U(displayFrame % format.timeCodeRate, 6).U(1, 1).U(0, 1);
    return bits.Take();
}

} // namespace

std::string MakeFieldPictureStream(const FieldPictureOptions& options)
{
    std::string video;
    const Format format = FormatOf(options.coding);
    const bool fields = options.coding == FieldCoding::FieldPictures;
    const unsigned frames = (options.frames + GopFrames - 1) / GopFrames * GopFrames;
    // Pictures of the same kind code to the same slices; made once.
    std::string slices[4][4]; // [picture_structure][type]
    for (Type type : {I, P, B})
        for (unsigned structure : {1u, 2u, 3u})
            slices[structure][type] = Slices(format, type, structure);

    unsigned shownBefore = 0; // frames shown before the GOP's first picture
    for (unsigned n = 0; n < frames; ++n) {
        const unsigned gop = n / GopFrames;
        const unsigned tr = Gop[n % GopFrames].temporalReference;
        const Type type = Gop[n % GopFrames].type;
        const unsigned display = gop * GopFrames + tr;
        // The interlaced codings have always counted coded frames in the time code.
        const unsigned timeCode = format.progressiveSequence ? shownBefore : gop * GopFrames;
        std::string frame = n % GopFrames == 0 ? SequenceHeaders(format, timeCode) : std::string();
        if (n % GopFrames == 0)
            for (unsigned d = display; d < display + GopFrames; ++d)
                shownBefore += Shown(options.coding, d);
        if (fields) {
            const size_t body = slices[1][type].size() + slices[2][type].size() + 2 * 16;
            const size_t padding = options.frameBytes > frame.size() + body ? (options.frameBytes - frame.size() - body) / 2 : 0;
            frame += PictureHeaders({type, tr, 1, false, false, false}, padding) + slices[1][type];
            frame += PictureHeaders({type, tr, 2, false, false, false}, padding) + slices[2][type];
        } else {
            const size_t body = slices[3][type].size() + 16;
            const size_t padding = options.frameBytes > frame.size() + body ? options.frameBytes - frame.size() - body : 0;
            const bool* flags = FlagsOf(options.coding, display);
            frame += PictureHeaders({type, tr, 3, flags[0], flags[1], true}, padding) + slices[3][type];
        }
        video += frame;
    }
    return video;
}

int64_t FilmPictureDuration27(FieldCoding coding, unsigned display)
{
    const Format format = FormatOf(coding);
    const int64_t frame27 = format.rateCode == 7 ? 450450 : 900900;
    // Interlaced sequences count fields, of half a frame each.
    return format.progressiveSequence ? Shown(coding, display) * frame27 : Shown(coding, display) * frame27 / 2;
}

int64_t FilmPictureTime27(FieldCoding coding, unsigned display)
{
    int64_t time = 0;
    for (unsigned d = 0; d < display; ++d)
        time += FilmPictureDuration27(coding, d);
    return time;
}

} // namespace test_recordings
