#include "genconf.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string expected(const std::string &name) {
    return readFile(EXPECTED_DIR "/" + name);
}

class GenConf : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "genconf_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string path(const char *name) const { return dir + "/" + name; }
    std::string dir;
};

const char *const gateway = "192.168.188.1";
const char *const rangeStart = "192.168.188.100";
const char *const rangeEnd = "192.168.188.199";

TEST_F(GenConf, AccessPointFileIsByteExact) {
    const struct {
        MacAddress address;
        const char *expectedFile;
    } cases[] = {
        {{0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f}, "hostapd-0a1b2c3d4e5f.conf"},
        {{0x80, 0xff, 0xa7, 0xc5, 0x01, 0xfe}, "hostapd-80ffa7c501fe.conf"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expectedFile);
        const std::string file = path("hostapd.conf");
        // Longer old content must be truncated away, not overwritten in part.
        std::ofstream(file) << std::string(4096, 'x');
        ASSERT_EQ(genHAPDConf(file.c_str(), &c.address), 1);
        EXPECT_EQ(readFile(file), expected(c.expectedFile));
    }
}

TEST_F(GenConf, DhcpDnsFileIsByteExact) {
    const std::string file = path("dnsmask.conf");
    std::ofstream(file) << std::string(4096, 'x');
    ASSERT_EQ(genDMQConf(file.c_str(), gateway, rangeStart, rangeEnd), 1);
    EXPECT_EQ(readFile(file), expected("dnsmask.conf"));
}

// Both generators: a file that cannot be created and a device that refuses
// the bytes (the full-disk case) give 0.
TEST_F(GenConf, FailuresGiveZero) {
    const MacAddress address{0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f};
    const std::string missingDir = path("missing/file.conf");
    for (const std::string &file : {missingDir, std::string("/dev/full")}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(genHAPDConf(file.c_str(), &address), 0);
        EXPECT_EQ(genDMQConf(file.c_str(), gateway, rangeStart, rangeEnd), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(path("missing")));
}

} // namespace
