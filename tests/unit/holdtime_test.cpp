#include "holdtime.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

struct HoldCase {
    const char *what;
    timeval press, release;
    std::int64_t expectedMs;
    bool resets;
};

constexpr auto maxSec = std::numeric_limits<time_t>::max();
constexpr auto minSec = std::numeric_limits<time_t>::min();
constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();
constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();

const HoldCase holdCases[] = {
    {"just short", {100, 0}, {104, 999000}, 4999, false},
    {"shortest reset", {100, 0}, {105, 0}, 5000, true},
    {"microseconds truncate toward zero", {100, 500}, {105, 0}, 5000, true},
    {"negative microseconds", {100, 999999}, {105, 0}, 4001, false},
    {"one hour", {1000, 250000}, {4600, 250000}, 3600000, true},
    {"one hour and a millisecond", {1000, 250000}, {4600, 251000}, 3600001, false},
    {"clock set back", {5000, 0}, {4000, 0}, -1000000, false},
    // 25 days: wraps a signed 32-bit millisecond count into the qualifying range
    {"clock jump of 25 days", {0, 0}, {2147484 + 5, 0}, (2147484LL + 5) * 1000, false},
    {"extreme forward jump", {minSec, 0}, {maxSec, 0}, int64Max, false},
    {"extreme backward jump", {maxSec, 0}, {minSec, 0}, int64Min, false},
};

TEST(HoldDecision, QualifiesOnlyBetweenFiveSecondsAndOneHourInclusive) {
    for (const HoldCase &c : holdCases) {
        const std::int64_t ms = holdMilliseconds(c.press, c.release);
        EXPECT_EQ(ms, c.expectedMs) << c.what;
        EXPECT_EQ(holdQualifies(ms), c.resets) << c.what;
    }
}

} // namespace
