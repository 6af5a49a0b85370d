// Deciding whether a press of the reset button asks for a factory reset.
#pragma once

#include <cstdint>
#include <limits>
#include <sys/time.h>

inline constexpr std::int64_t shortestResetHoldMs = 5000;
inline constexpr std::int64_t longestResetHoldMs = 3600000;
inline constexpr std::int64_t msPerSecond = 1000;
inline constexpr std::int64_t usPerMs = 1000;

// Milliseconds from press to release by the time of day: whole seconds times
// 1000 plus the microsecond difference divided (truncating toward zero). 64-bit
// and saturating, so a clock jump during a press can never wrap into the
// qualifying range.
inline std::int64_t holdMilliseconds(const timeval &pressTime, const timeval &now) {
    std::int64_t seconds = 0;
    std::int64_t ms = 0;
    const std::int64_t usPart =
        (static_cast<std::int64_t>(now.tv_usec) - static_cast<std::int64_t>(pressTime.tv_usec)) /
        usPerMs;
    if (__builtin_sub_overflow(static_cast<std::int64_t>(now.tv_sec),
                               static_cast<std::int64_t>(pressTime.tv_sec), &seconds) ||
        __builtin_mul_overflow(seconds, msPerSecond, &ms) ||
        __builtin_add_overflow(ms, usPart, &ms))
        return now.tv_sec < pressTime.tv_sec ? std::numeric_limits<std::int64_t>::min()
                                             : std::numeric_limits<std::int64_t>::max();
    return ms;
}

// Both bounds inclusive; a negative hold (clock set back) never qualifies.
inline bool holdQualifies(std::int64_t holdMs) {
    return holdMs >= shortestResetHoldMs && holdMs <= longestResetHoldMs;
}
