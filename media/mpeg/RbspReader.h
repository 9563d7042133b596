#pragma once
// H.264 syntax is read from a NAL unit's RBSP, its payload less the emulation prevention bytes.

#include <cstddef>
#include <cstdint>

namespace mpeg {

// Reads the RBSP of a NAL unit from its escaped bytes: a 03 after two zero bytes is skipped.
class CRbspReader {
public:
    CRbspReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Failed() const { return failed_; }
    void Fail() { failed_ = true; }
    bool MoreData() const { return !failed_ && at_ < size_; }

    uint32_t Bits(int count)
    {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i)
            value = (value << 1) | Bit();
        return value;
    }
    uint32_t Bit()
    {
        if (bit_ == 0 && !NextByte())
            return 0;
        --bit_;
        ++read_;
        return (current_ >> bit_) & 1;
    }
    // Exp-Golomb; more than 31 leading zeros is not a value H.264 allows.
    uint32_t Ue()
    {
        int zeros = 0;
        while (!failed_ && Bit() == 0) {
            if (++zeros > 31) {
                failed_ = true;
                return 0;
            }
        }
        return zeros == 0 ? 0 : static_cast<uint32_t>((uint64_t(1) << zeros) - 1 + Bits(zeros));
    }
    int32_t Se()
    {
        const uint32_t code = Ue();
        return code & 1 ? static_cast<int32_t>((code + 1) / 2) : -static_cast<int32_t>(code / 2);
    }
    // Whole bytes of the RBSP; false past the end.
    bool ReadBytes(uint8_t* out, size_t count)
    {
        for (size_t i = 0; i < count && !failed_; ++i)
            out[i] = static_cast<uint8_t>(Bits(8));
        return !failed_;
    }
    // Bits read so far.
    uint64_t Position() const { return read_; }

private:
    bool NextByte()
    {
        if (at_ < size_ && zeros_ >= 2 && data_[at_] == 3) {
            zeros_ = 0;
            ++at_;
        }
        if (at_ >= size_) {
            failed_ = true;
            return false;
        }
        current_ = data_[at_++];
        zeros_ = current_ == 0 ? zeros_ + 1 : 0;
        bit_ = 8;
        return true;
    }

    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    int zeros_ = 0;
    uint8_t current_ = 0;
    int bit_ = 0;
    uint64_t read_ = 0;
    bool failed_ = false;
};

// The messages of an SEI unit in turn (ITU-T H.264 7.3.2.3.1), read in place. Next gives each
// one's payload type and size and leaves the reader at its payload, which the caller may read,
// no further than its size, before the next call passes over the rest of it.
class CSeiMessages {
public:
    // `nal` points at the NAL header byte; `size` runs to the unit's end.
    CSeiMessages(const uint8_t* nal, size_t size) : reader_(nal + 1, size > 0 ? size - 1 : 0), size_(size) {}
    // False after the last message (at the trailing bits), or where a message runs past the unit.
    bool Next(uint32_t& type, uint32_t& size)
    {
        if (reader_.Position() < payloadEnd_ && !SkipTo(payloadEnd_))
            return false;
        if (!reader_.MoreData())
            return false;
        type = Number();
        size = Number();
        if (reader_.Failed() || size > size_)
            return false;
        payloadEnd_ = reader_.Position() + 8 * uint64_t(size);
        return true;
    }
    CRbspReader& Payload() { return reader_; }

private:
    // A payload type or size: 255 for each FF byte, then the last byte.
    uint32_t Number()
    {
        uint32_t value = 0, byte = 0;
        while ((byte = reader_.Bits(8)) == 0xFF && !reader_.Failed())
            value += 255;
        return value + byte;
    }
    bool SkipTo(uint64_t position)
    {
        while (reader_.Position() < position && !reader_.Failed())
            reader_.Bit();
        return !reader_.Failed();
    }

    CRbspReader reader_;
    size_t size_;
    uint64_t payloadEnd_ = 0;
};

} // namespace mpeg
