#include "hwconf.h"

#include "cfgfile.h"

#include <array>

namespace {

constexpr char hwConfPath[] = "/boot/hw.conf";

// A value fits when it and its terminating zero take at most 128 bytes; the
// extra byte of each field keeps every text terminated whatever happens.
constexpr unsigned valueCapacity = 128;
using HWField = std::array<char, valueCapacity + 1>;

HWField hwDeviceName, hwManufacturer, hwModelName, hwModelNumber, hwSerialNumber, hwVersion, hwUDID;

struct HWKey {
    const char *key;
    HWField *field;
};

// Load order: a missing key ends the load, so later fields stay empty.
constexpr std::array<HWKey, 7> hwKeys{{
    {"hw_device_name", &hwDeviceName},
    {"hw_manufacturer", &hwManufacturer},
    {"hw_model_name", &hwModelName},
    {"hw_model_number", &hwModelNumber},
    {"hw_serial_number", &hwSerialNumber},
    {"hw_version", &hwVersion},
    {"hw_udid", &hwUDID},
}};

int confReadValue(const char *key, HWField *field, const cfgTable *table) {
    return cfgReader_HasKey(key, table) &&
           cfgReader_GetValue(key, field->data(), valueCapacity, table);
}

} // namespace

int initializeHWConfFrom(const char *filePath) {
    for (const HWKey &entry : hwKeys)
        entry.field->fill('\0');
    cfgTable *table = cfgReader_Ctor(filePath);
    if (table == nullptr)
        return 0;
    int loaded = 1;
    for (const HWKey &entry : hwKeys) {
        if (!confReadValue(entry.key, entry.field, table)) {
            loaded = 0;
            break;
        }
    }
    cfgReader_Dtor(table);
    return loaded;
}

int initializeHWConf() {
    return initializeHWConfFrom(hwConfPath);
}

const char *getHWDeviceName() {
    return hwDeviceName.data();
}
const char *getHWManufacturer() {
    return hwManufacturer.data();
}
const char *getHWModelName() {
    return hwModelName.data();
}
const char *getHWModelNumber() {
    return hwModelNumber.data();
}
const char *getHWSerialNumber() {
    return hwSerialNumber.data();
}
const char *getHWVersion() {
    return hwVersion.data();
}
const char *getHWUUID() {
    return hwUDID.data();
}
