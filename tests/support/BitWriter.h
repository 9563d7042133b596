#pragma once
// Bits written most significant first, for the test side's synthetic MPEG-2 and H.264 streams.

#include <cstdint>
#include <string>

namespace es_units {

class BitWriter {
public:
    BitWriter& U(uint32_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            byte_ = static_cast<uint8_t>(byte_ << 1 | ((value >> i) & 1));
            if (++bits_ == 8) {
                out_ += static_cast<char>(byte_);
                byte_ = 0;
                bits_ = 0;
            }
        }
        return *this;
    }
    // Exp-Golomb, as H.264 codes most of its fields.
    BitWriter& Ue(uint32_t value)
    {
        int length = 0;
        while ((uint64_t(value) + 1) >> (length + 1))
            ++length;
        return U(0, length).U(value + 1, length + 1);
    }
    BitWriter& StartCode(uint8_t code)
    {
        while (bits_)
            U(0, 1);
        out_ += std::string("\0\0\1", 3) + static_cast<char>(code);
        return *this;
    }
    // What was written, the last byte filled with zeros; the writer starts empty again.
    std::string Take()
    {
        while (bits_)
            U(0, 1);
        std::string out;
        out.swap(out_);
        return out;
    }
    // What was written as an H.264 NAL unit: its trailing bits, escaped as a byte stream needs,
    // behind a four-byte start code.
    std::string Nal(uint8_t header)
    {
        std::string bytes = std::string("\0\0\0\1", 4) + static_cast<char>(header);
        int zeros = 0;
        for (const char c : U(1, 1).Take()) {
            if (zeros >= 2 && static_cast<uint8_t>(c) <= 3) {
                bytes += '\x03';
                zeros = 0;
            }
            bytes += c;
            zeros = c == 0 ? zeros + 1 : 0;
        }
        return bytes;
    }

private:
    std::string out_;
    uint8_t byte_ = 0;
    int bits_ = 0;
};

} // namespace es_units
