#include "hwconf.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Getter = const char *(*)();
const std::vector<std::pair<std::string, Getter>> fieldsInLoadOrder = {
    {"hw_device_name", getHWDeviceName},
    {"hw_manufacturer", getHWManufacturer},
    {"hw_model_name", getHWModelName},
    {"hw_model_number", getHWModelNumber},
    {"hw_serial_number", getHWSerialNumber},
    {"hw_version", getHWVersion},
    {"hw_udid", getHWUUID},
};

class HWConf : public ::testing::Test {
  protected:
    std::string path = ::testing::TempDir() + "hwconf_test_" + std::to_string(getpid());
    void TearDown() override { unlink(path.c_str()); }
    void write(const std::string &content) {
        FILE *f = fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs(content.c_str(), f);
        fclose(f);
    }
    std::string allKeys(const std::string &skip = "") {
        std::string text;
        for (const auto &[key, getter] : fieldsInLoadOrder)
            if (key != skip)
                text += key + " = value of " + key + "\n";
        return text;
    }
    // Expects the fields before `firstEmpty` loaded from allKeys(), the rest empty.
    void expectLoadedUpTo(size_t firstEmpty) {
        for (size_t i = 0; i < fieldsInLoadOrder.size(); ++i) {
            const auto &[key, getter] = fieldsInLoadOrder[i];
            EXPECT_STREQ(getter(), i < firstEmpty ? ("value of " + key).c_str() : "") << key;
        }
    }
};

TEST_F(HWConf, LoadsAllSevenOrStopsAtTheFirstMissingKey) {
    write(allKeys());
    EXPECT_EQ(initializeHWConfFrom(path.c_str()), 1);
    expectLoadedUpTo(7);

    write(allKeys("hw_model_name"));
    EXPECT_EQ(initializeHWConfFrom(path.c_str()), 0);
    expectLoadedUpTo(2);

    write(allKeys("hw_udid"));
    EXPECT_EQ(initializeHWConfFrom(path.c_str()), 0);
    expectLoadedUpTo(6);
}

TEST_F(HWConf, MissingFileLeavesEveryFieldEmptyEvenAfterAnEarlierLoad) {
    write(allKeys());
    ASSERT_EQ(initializeHWConfFrom(path.c_str()), 1);
    EXPECT_EQ(initializeHWConfFrom((path + ".absent").c_str()), 0);
    expectLoadedUpTo(0);
}

TEST_F(HWConf, AcceptsValuesOfAtMost127Characters) {
    const std::string longest(127, 'x');
    write("hw_device_name = " + longest + "\nhw_manufacturer = " + longest + "y\n");
    EXPECT_EQ(initializeHWConfFrom(path.c_str()), 0);
    EXPECT_EQ(getHWDeviceName(), longest);
    EXPECT_STREQ(getHWManufacturer(), "");
    EXPECT_STREQ(getHWModelName(), "");
}

TEST_F(HWConf, UsesTheFirstOfDuplicateKeysAndMatchesCaseExactly) {
    write("HW_DEVICE_NAME = upper\nhw_device_name = first\nhw_device_name = second\n");
    EXPECT_EQ(initializeHWConfFrom(path.c_str()), 0);
    EXPECT_STREQ(getHWDeviceName(), "first");

    write("Hw_Device_Name = mixed\n");
    initializeHWConfFrom(path.c_str());
    EXPECT_STREQ(getHWDeviceName(), "");
}

} // namespace
