// macPrint: prints an interface's hardware address as twelve hexadecimal digits,
// or twelve zeros when it cannot be read.
#include "genfile.h"
#include "ifaddr.h"

#include <cstdio>

int main(int argc, char *argv[]) {
    if (argc != 2) {
        // A caller may pass an empty argument list: argv[0] is then null, or
        // the empty string that newer kernels put in its place.
        const bool named = argc > 0 && argv[0] != nullptr && argv[0][0] != '\0';
        const char *invocationName = named ? argv[0] : "macPrint";
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
