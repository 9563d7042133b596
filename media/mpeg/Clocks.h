#pragma once
// The two clocks of MPEG-2 systems (ISO/IEC 13818-1): timestamps count 90 kHz ticks, clock
// references (SCR, PCR) 27 MHz ones, written as a 90 kHz base and an extension of 0 to 299.

#include <cstdint>

namespace mpeg {

constexpr uint64_t SystemClock = 27000000;  // Hz
constexpr int64_t TimestampClock = 90000;   // Hz
constexpr int64_t SystemTicksPerTimestampTick = static_cast<int64_t>(SystemClock) / TimestampClock;

// A 90 kHz time in 27 MHz ticks.
constexpr int64_t ToSystemClock(int64_t time90kHz) { return time90kHz * SystemTicksPerTimestampTick; }
// A clock reference's 90 kHz base (33 bits once masked) and its 27 MHz extension.
constexpr uint64_t ClockBase(uint64_t time27MHz) { return time27MHz / SystemTicksPerTimestampTick; }
constexpr uint32_t ClockExtension(uint64_t time27MHz)
{
    return static_cast<uint32_t>(time27MHz % SystemTicksPerTimestampTick);
}

} // namespace mpeg
