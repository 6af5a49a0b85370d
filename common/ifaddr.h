// Hardware addresses of network interfaces.
#pragma once

#include <array>
#include <cstddef>

// Six bytes in the order the kernel reports them.
inline constexpr std::size_t macAddressLength = 6;
using MacAddress = std::array<unsigned char, macAddressLength>;

// Twelve lowercase hexadecimal digits and the terminating zero.
inline constexpr int macAddressTextSize = 13;

// Reads the hardware address of interface ifName (SIOCGIFHWADDR on an IPv4
// stream socket, closed in every outcome). 1 on success; 0 when the socket or
// the request fails, and at once (errno EINVAL, no request) for an empty name
// or one of 16 characters or more, which the kernel's name field cannot hold
// and which must never be truncated into the name of another interface.
// *address is changed only on success.
int readIfHwAddr(const char *ifName, MacAddress *address);

// Writes the address as twelve lowercase hexadecimal digits, no separators,
// into text (macAddressTextSize bytes, zero-terminated).
void formatMacAddress(const MacAddress *address, char *text);
