/* macPrint's job in plain C, built only to compare binary sizes with the
 * project's program (bench/run). */
#define _DEFAULT_SOURCE /* struct ifreq */
#include <net/if.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char **argv) {
    struct ifreq request;
    const unsigned char *mac = (const unsigned char *)request.ifr_hwaddr.sa_data;
    if (argc != 2) {
        printf("usage: %s <ifname>\n", argv[0]);
        return 1;
    }
    memset(&request, 0, sizeof request);
    strncpy(request.ifr_name, argv[1], IFNAMSIZ - 1);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int ok = fd >= 0 && ioctl(fd, SIOCGIFHWADDR, &request) == 0;
    if (fd >= 0)
        close(fd);
    if (!ok) {
        printf("000000000000\n");
        return 1;
    }
    printf("%02x%02x%02x%02x%02x%02x\n", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return 0;
}
