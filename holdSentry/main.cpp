// holdSentry: watches the factory-reset button in the background. A press held
// for 5 s to one hour and then released plays the reset prompt, restores the
// network and Wi-Fi defaults and reboots the device.

#include "boardconfig.h"
#include "genfile.h"
#include "holdtime.h"
#include "hwconf.h"
#include "runcmd.h"
#include "trustedopen.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr char buttonAttributePath[] = BUTTON_ATTRIBUTE_PATH;
constexpr char startupLogPath[] = "/tmp/applog";
constexpr char banner[] = "holdSentry V" PROJECT_VERSION_TEXT "\n";
constexpr useconds_t pollPeriodUs = 100000;
constexpr char pressedByte = '1';
constexpr char releasedByte = '0';
// A pread of up to 16 bytes at offset 0 returns the driver's text in one call.
constexpr size_t stateReadSize = 16;
constexpr char promptCommand[] = "aplay " PROMPT_FILE_PATH;
constexpr unsigned pauseAfterPromptS = 2;
constexpr char rebootCommand[] = "reboot";

volatile sig_atomic_t exitProgram = 0;

void signalHandler(int signum) {
    if (signum == SIGTERM)
        exitProgram = 1;
}

// A directory opens like a file on Linux but never yields a state: the button
// would be dead, so it counts as an attribute that cannot be opened.
FILE *openButtonAttribute() {
    // Close-on-exec: the commands a reset starts must never hold the button.
    FILE *button = fopen(buttonAttributePath, "re");
    struct stat info {};
    if (button != nullptr && (fstat(fileno(button), &info) != 0 || S_ISDIR(info.st_mode))) {
        fclose(button);
        return nullptr;
    }
    return button;
}

// The log lives in world-writable /tmp: an image may link it to storage of its
// own, but a link that another user planted there must not redirect root's
// write, and a FIFO planted there must not hang the start-up.
FILE *openStartupLog() {
    const int fd = openTrustedAppend(startupLogPath);
    if (fd < 0)
        return nullptr;
    FILE *log = fdopen(fd, "a");
    if (log == nullptr)
        close(fd);
    return log;
}

// The prompt must finish before the device goes down, whatever signals arrive.
void sleepUninterrupted(unsigned seconds) {
    timespec remaining{static_cast<time_t>(seconds), 0};
    while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
    }
}

void fillSysconf(FILE *out) {
    fputs("# # Network switchs\n"
          "ether_net_enabled = 0\n"
          "wifi_net_enabled = 1\n"
          "lte4G_net_enabled = 1\n\n"
          "# # Initial audio select (local | bt | analog)\n"
          "audio_select = local\n\n"
          "# # Ether network config (dhcp | static)\n"
          "ether_net_mode = dhcp\n"
          "ether_net_ipaddr = 0.0.0.0\n"
          "ether_net_mask = 0.0.0.0\n"
          "ether_net_gateway = 0.0.0.0\n"
          "ether_net_dns = 0.0.0.0\n\n"
          "# # Wi-Fi list config\n"
          "wifi_net_list = /app/etc/wifilist.conf",
          out);
}

// The DHCP client rejects an unknown option name as a whole, so "host_name" is
// spelled out in full: a truncated name would leave the device without DNS.
void fillDhcpconf(FILE *out) {
    fputs(generatedFileBanner, out);
    fputs("allowinterfaces wlan0\n"
          "denyinterfaces eth0 wwan0 usb0 ppp0\n"
          "background\n"
          "hostname\n"
          "clientid\n"
          "option rapid_commit\n"
          "option domain_name_servers, domain_name, domain_search, host_name\n"
          "option classless_static_routes\n"
          "option ntp_servers\n"
          "option interface_mtu\n"
          "require dhcp_server_identifier\n"
          "slaac private\n",
          out);
}

void fillWpaconf(FILE *out) {
    fputs(generatedFileBanner, out);
    fprintf(out,
            "ctrl_interface = /var/run/wpa_supplicant\n"
            "update_config = 1\n"
            "country = CN\n"
            "uuid = %s\n"
            "device_name = %s\n"
            "manufacturer = %s\n"
            "model_name = %s\n"
            "model_number = %s\n"
            "serial_number = %s\n"
            "device_type=1-0050F204-1\n"
            "\n"
            "network = {\n"
            "sssid = \"oxa\"\n"
            "psk = \"47150392\"\n"
            "priority = 1\n"
            "}\n\n",
            getHWUUID(), getHWDeviceName(), getHWManufacturer(), getHWModelName(),
            getHWModelNumber(), getHWSerialNumber());
}

void fillWpalist(FILE *out) {
    fputs("# This is Wi-Fi list configuration file\n"
          "# Please DO NOT EDIT!\n\n\n"
          "# The count of valid config entries\n"
          "wifi_cfg_count = 1\n\n\n"
          "# Begin SSID configuration, priority 10\n"
          "wifi_0_ssid = oxa\n"
          "wifi_0_type = wpa\n"
          "wifi_0_pass = 47150392\n"
          "# End SSID configuration",
          out);
}

// The device boots from these files: each is replaced whole or left as it was.
void writeDefaults(const char *path, FileFiller fill, const char *errorMessage) {
    if (!replaceFile(path, fill))
        fputs(errorMessage, stderr);
}

void setdefSysconf() {
    writeDefaults("/app/etc/corehub.conf", fillSysconf, "setdefSysconf error!\n");
}
void setdefDhcpconf() {
    writeDefaults("/tmp/netconf.conf", fillDhcpconf, "setdefDhcpconf error!\n");
}
void setdefWpaconf() {
    writeDefaults("/tmp/wpa_supplicant.conf", fillWpaconf, "setdefWpaconf error!\n");
}
void setdefWpalist() {
    writeDefaults("/app/etc/wifilist.conf", fillWpalist, "setdefWpalist error!\n");
}

// Once begun, the reset runs to the reboot: SIGTERM no longer stops it.
[[noreturn]] void factoryReset(FILE *button) {
    fclose(button);
    restoreDefaultSigchld();
    runCommand(promptCommand);
    sleepUninterrupted(pauseAfterPromptS);
    setdefSysconf();
    setdefDhcpconf();
    setdefWpaconf();
    setdefWpalist();
    runCommand(rebootCommand);
    exit(0);
}

// One poll: reads the attribute's current first byte and advances the press
// state. A reset is decided on release, never while the button is down.
void pollButton(FILE *button, bool *keyHeld, timeval *pressTime) {
    std::array<char, stateReadSize> state;
    // pread at offset 0 sees the driver's current value in one system call.
    if (pread(fileno(button), state.data(), state.size(), 0) <= 0)
        return;
    if (state[0] == pressedByte && !*keyHeld) {
        *keyHeld = gettimeofday(pressTime, nullptr) == 0;
    } else if (state[0] == releasedByte && *keyHeld) {
        timeval now;
        if (gettimeofday(&now, nullptr) != 0)
            return;
        if (holdQualifies(holdMilliseconds(*pressTime, now)))
            factoryReset(button);
        *keyHeld = false;
    }
}

} // namespace

int main() {
    if (daemon(0, 0) != 0) {
        // Still worth watching the button in the foreground.
    }
    exitProgram = 0; // before the handler, so an early SIGTERM is not lost
    signal(SIGTERM, signalHandler);

    FILE *button = openButtonAttribute();
    if (button == nullptr)
        return 1;
    FILE *log = openStartupLog();
    if (log == nullptr) {
        fclose(button);
        return 1;
    }
    initializeHWConf();
    fputs(banner, log);
    fclose(log);

    bool keyHeld = false;
    timeval pressTime{};
    while (!exitProgram) {
        pollButton(button, &keyHeld, &pressTime);
        usleep(pollPeriodUs);
    }
    fclose(button);
    return 0;
}
