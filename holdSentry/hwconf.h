// The device's hardware identity, provisioned in /boot/hw.conf.
#pragma once

// Loads the identity afresh (all fields empty first). Keys are read in a fixed
// order and loading stops at the first key that is absent or whose value has
// 128 characters or more; that field and the later ones stay empty.
// 1 when all seven were loaded, 0 otherwise.
int initializeHWConf();
// Same as initializeHWConf, from another file (tests, tools).
int initializeHWConfFrom(const char *filePath);

// The loaded texts: never null, empty when not loaded; valid until the next load.
const char *getHWDeviceName();
const char *getHWManufacturer();
const char *getHWModelName();
const char *getHWModelNumber();
const char *getHWSerialNumber();
const char *getHWVersion();
const char *getHWUUID();
