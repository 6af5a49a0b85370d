#include "ifaddr.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

std::string formatted(const MacAddress &address) {
    char text[macAddressTextSize];
    formatMacAddress(&address, text);
    return text;
}

TEST(FormatMacAddress, TwelveLowercaseDigitsNeverSignExtended) {
    const struct {
        MacAddress address;
        const char *text;
    } cases[] = {
        {{0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}, "0a1b2c3d4e5f"},
        {{0x80, 0xff, 0xa7, 0xc5, 0x01, 0xfe}, "80ffa7c501fe"},
        {{0x7f, 0x80, 0x00, 0xff, 0xab, 0xcd}, "7f8000ffabcd"},
        {{0, 0, 0, 0, 0, 0}, "000000000000"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(formatted(c.address), c.text);
}

// Outside a network namespace only reads are safe: loopback always exists and
// reports an all-zero address.
TEST(ReadIfHwAddr, LoopbackIsAllZero) {
    MacAddress address;
    address.fill(0x5a);
    ASSERT_EQ(readIfHwAddr("lo", &address), 1);
    EXPECT_EQ(address, MacAddress{});
}

TEST(ReadIfHwAddr, FailsAndLeavesAddressAlone) {
    const struct {
        const char *name;
        int errnoValue; // 0: whatever the kernel reports
    } cases[] = {
        {"nosuchif0", 0},
        {"", EINVAL},
        {"lo0123456789abc", 0},       // 15 characters: asked, but no such interface
        {"lo0123456789abcd", EINVAL}, // 16: never truncated into a 15-character name
        {"lo0123456789abcdefghijklmnopqrstuvwxyz", EINVAL},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        MacAddress address;
        address.fill(0x5a);
        errno = 0;
        EXPECT_EQ(readIfHwAddr(c.name, &address), 0);
        if (c.errnoValue != 0)
            EXPECT_EQ(errno, c.errnoValue);
        else
            EXPECT_NE(errno, EINVAL);
        MacAddress untouched;
        untouched.fill(0x5a);
        EXPECT_EQ(address, untouched);
    }
}

} // namespace
