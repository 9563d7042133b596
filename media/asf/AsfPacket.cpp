#include "media/asf/AsfPacket.h"

#include "media/ByteCursor.h"

namespace asf {
namespace {

using media::CByteCursor;


bool ParsePayload(CByteCursor& cursor, uint8_t propertyFlags, bool multiple, unsigned lengthType, size_t end,
                  Payload& payload)
{
    const uint8_t streamByte = cursor.U8();
    payload.stream = streamByte & 0x7F;
    payload.keyFrame = (streamByte & 0x80) != 0;
    payload.objectNumber = cursor.Field((propertyFlags >> 4) & 3);
    payload.offset = cursor.Field((propertyFlags >> 2) & 3);
    const uint32_t replicated = cursor.Field(propertyFlags & 3);
    if (!cursor.Ok() || replicated > cursor.Remaining())
        return false;
    payload.compressed = replicated == 1;
    payload.objectSize = 0;
    payload.extensions = nullptr;
    payload.extensionsSize = 0;
    if (payload.compressed) {
        payload.timeDelta = cursor.U8();
        payload.presentationMs = payload.offset;
    } else if (replicated >= 8) {
        payload.objectSize = cursor.U32();
        payload.presentationMs = cursor.U32();
        payload.extensions = cursor.Here();
        payload.extensionsSize = replicated - 8;
        cursor.Skip(replicated - 8);
    } else if (replicated != 0) {
        return false;
    }
    const size_t here = cursor.Position();
    if (!cursor.Ok() || here > end)
        return false;
    const uint32_t size = multiple ? cursor.Field(lengthType) : static_cast<uint32_t>(end - here);
    if (!cursor.Ok() || size == 0 || size > end - cursor.Position())
        return false;
    payload.data = cursor.Here();
    payload.size = size;
    cursor.Skip(size);
    if (payload.compressed) {
        // Sub-payloads: a length byte and that many bytes, filling the payload exactly.
        uint32_t position = 0;
        while (position < size) {
            const uint32_t length = payload.data[position];
            if (length == 0 || length > size - position - 1)
                return false;
            position += 1 + length;
        }
    }
    return true;
}

} // namespace

bool ParsePacket(const uint8_t* data, uint32_t size, Packet& packet)
{
    packet.count = 0;
    CByteCursor cursor(data, size);
    uint8_t lengthFlags = cursor.U8();
    if (lengthFlags & 0x80) {
        // Error-correction data: its length in the low bits, no opaque data, length type 0.
        if (lengthFlags & 0x70)
            return false;
        cursor.Skip(lengthFlags & 0x0F);
        lengthFlags = cursor.U8();
    }
    const uint8_t propertyFlags = cursor.U8();
    uint32_t packetLength = cursor.Field((lengthFlags >> 5) & 3);
    cursor.Field((lengthFlags >> 1) & 3);
    uint32_t padding = cursor.Field((lengthFlags >> 3) & 3);
    packet.sendTimeMs = cursor.U32();
    cursor.Skip(2); // duration
    if (!cursor.Ok())
        return false;
    if ((lengthFlags >> 5) & 3) {
        // A shorter stated length leaves the rest of the fixed-size packet as padding.
        if (packetLength == 0 || packetLength > size || packetLength < cursor.Position())
            return false;
        padding += size - packetLength;
    }
    if (padding > size - cursor.Position())
        return false;
    const size_t end = size - padding;

    if (!(lengthFlags & 1)) {
        packet.count = 1;
        return ParsePayload(cursor, propertyFlags, false, 0, end, packet.payloads[0]);
    }
    const uint8_t payloadFlags = cursor.U8();
    const unsigned count = payloadFlags & 0x3F;
    const unsigned lengthType = payloadFlags >> 6;
    if (!cursor.Ok() || count == 0 || lengthType == 0)
        return false;
    for (unsigned i = 0; i < count; ++i) {
        if (!ParsePayload(cursor, propertyFlags, true, lengthType, end, packet.payloads[i]))
            return false;
    }
    packet.count = count;
    return true;
}

} // namespace asf
