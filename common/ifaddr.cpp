#include "ifaddr.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

int readIfHwAddr(const char *ifName, MacAddress *address) {
    const size_t nameLength = strnlen(ifName, IFNAMSIZ);
    if (nameLength == 0 || nameLength >= IFNAMSIZ) {
        errno = EINVAL;
        return 0;
    }
    struct ifreq request;
    memset(&request, 0, sizeof request);
    memcpy(request.ifr_name, ifName, nameLength);

    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    const bool answered = ioctl(fd, SIOCGIFHWADDR, &request) == 0;
    const int savedErrno = errno;
    close(fd);
    errno = savedErrno;
    if (!answered)
        return 0;
    memcpy(address->data(), request.ifr_hwaddr.sa_data, address->size());
    return 1;
}

void formatMacAddress(const MacAddress *address, char *text) {
    const auto &[b0, b1, b2, b3, b4, b5] = *address;
    // Unsigned bytes: 0x80 and above stay two digits instead of sign-extending.
    snprintf(text, macAddressTextSize, "%02x%02x%02x%02x%02x%02x", b0, b1, b2, b3, b4, b5);
}
