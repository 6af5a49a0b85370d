// apStarter: switches the Wi-Fi interface into access-point mode, named after
// the Ethernet address.
#include "genconf.h"
#include "ifaddr.h"
#include "runcmd.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

static constexpr char addressSourceInterface[] = "eth0";
static constexpr char accessPointAddress[] = "192.168.188.1";
static constexpr char dhcpRangeStart[] = "192.168.188.100";
static constexpr char dhcpRangeEnd[] = "192.168.188.199";
static constexpr char hostapdConfPath[] = "/var/hostapd.conf";
static constexpr char dnsmasqConfPath[] = "/var/dnsmask.conf";
static constexpr size_t commandBufferSize = 1024;

// Formats a command line and runs it through the shell: 1 when it exited 0.
// C varargs on purpose: the format attribute lets -Wformat check every call.
// NOLINTNEXTLINE(cert-dcl50-cpp)
__attribute__((format(printf, 1, 2))) static int runFormatted(const char *format, ...) {
    char commandLine[commandBufferSize];
    memset(commandLine, 0, sizeof commandLine);
    va_list arguments;
    va_start(arguments, format);
    const int length = vsnprintf(commandLine, sizeof commandLine, format, arguments);
    va_end(arguments);
    if (length < 0 || static_cast<size_t>(length) >= sizeof commandLine)
        return 0;
    return runCommand(commandLine);
}

// Stops the client-mode services and starts the access point. 1 when both
// daemons started; a failed stop only means the service was not running.
static int launchAP() {
    restoreDefaultSigchld();
    // -w waits until the processes are gone, so none of them still holds
    // wlan0 when it is reconfigured below.
    runFormatted("killall -w dnsmasq >/dev/null 2>&1");
    runFormatted("killall -w hostapd >/dev/null 2>&1");
    runFormatted("killall -w dhcpcd >/dev/null 2>&1");
    runFormatted("killall -w wpa_cli >/dev/null 2>&1");
    runFormatted("killall -w wpa_supplicant >/dev/null 2>&1");
    runFormatted("ifconfig wlan0 up");
    runFormatted("ifconfig wlan0 %s", accessPointAddress);
    const int hostapdStarted = runFormatted("hostapd -B %s", hostapdConfPath);
    const int dnsmasqStarted = runFormatted("dnsmasq -C %s", dnsmasqConfPath);
    return hostapdStarted && dnsmasqStarted;
}

int main() {
    restoreDefaultSigchld();
    runFormatted("ifconfig %s up", addressSourceInterface);
    MacAddress address{};
    if (!readIfHwAddr(addressSourceInterface, &address))
        return 1;
    // Both files are complete before any service is touched: a failure here
    // leaves the device in client mode, still reachable.
    if (!genHAPDConf(hostapdConfPath, &address))
        return 1;
    if (!genDMQConf(dnsmasqConfPath, accessPointAddress, dhcpRangeStart, dhcpRangeEnd))
        return 1;
    return launchAP() ? 0 : 1;
}
