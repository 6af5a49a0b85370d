// macPrint: prints an interface's hardware address as twelve hexadecimal digits,
// or twelve zeros when it cannot be read.
#include "genfile.h"
#include "ifaddr.h"

#include <cstdio>

int main(int argc, char *argv[]) {
    if (argc != 2) {
        // argv[0] is null when the caller passed an empty argument list.
        const char *invocationName = argc > 0 && argv[0] != nullptr ? argv[0] : "macPrint";
        printf("usage: %s <ifname>\n", invocationName);
        finishStream(stdout);
        return 1;
    }
    MacAddress address{};
    const int found = readIfHwAddr(argv[1], &address);
    char text[macAddressTextSize];
    formatMacAddress(&address, text);
    printf("%s\n", text);
    // A caller that gets no line (a full pipe or disk) must not see success.
    const int printed = finishStream(stdout);
    return found && printed ? 0 : 1;
}
