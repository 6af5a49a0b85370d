// Configuration files of the access-point daemon and the DHCP/DNS server.
#pragma once

#include "ifaddr.h"

// Both create or truncate filePath in place and write the whole file. 1 when
// every byte reached the file and it was closed; 0 when it cannot be created
// or any write, the flush or the close failed (the file may then be partial).

// Access-point daemon (wlan0, open network): the network name is "Velvora-"
// and the twelve digits of address.
int genHAPDConf(const char *filePath, const MacAddress *address);

// DHCP/DNS server on wlan0: leases rangeStart..rangeEnd for 12 hours with
// gateway as router; all three are dotted-quad IPv4 texts.
int genDMQConf(const char *filePath, const char *gateway, const char *rangeStart,
               const char *rangeEnd);
