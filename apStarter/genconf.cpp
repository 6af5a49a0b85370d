#include "genconf.h"

#include "genfile.h"

#include <cstdio>

// Handed to phones as their DNS server. The access point is licensed for
// China (country_code=CN) and runs no resolver of its own, so the address must
// answer from the mainland as well as abroad: this large anycast public
// resolver has nodes inside mainland China and elsewhere, whereas some other
// well-known public resolvers are blocked there.
static constexpr char dnsServer[] = "223.5.5.5";

int genHAPDConf(const char *filePath, const MacAddress *address) {
    FILE *stream = fopen(filePath, "wt");
    if (stream == nullptr)
        return 0;
    char addressText[macAddressTextSize];
    formatMacAddress(address, addressText);
    fputs(generatedFileBanner, stream);
    fputs("interface=wlan0\n"
          "logger_syslog=-1\n"
          "logger_syslog_level=2\n"
          "logger_stdout=-1\n"
          "logger_stdout_level=2\n"
          "ctrl_interface=/var/run/hostapd\n"
          "ctrl_interface_group=0\n",
          stream);
    fprintf(stream, "ssid=Velvora-%s\n", addressText);
    // The bk block lists cwmin before aifs, unlike the other three categories:
    // kept as shipped so the file stays byte-identical to earlier firmware.
    fputs("country_code=CN\n"
          "hw_mode=g\n"
          "channel=1\n"
          "beacon_int=100\n"
          "dtim_period=2\n"
          "max_num_sta=255\n"
          "rts_threshold=-1\n"
          "fragm_threshold=-1\n"
          "macaddr_acl=0\n"
          "auth_algs=3\n"
          "ignore_broadcast_ssid=0\n"
          "wmm_enabled=1\n"
          "wmm_ac_bk_cwmin=4\n"
          "wmm_ac_bk_cwmax=10\n"
          "wmm_ac_bk_aifs=7\n"
          "wmm_ac_bk_txop_limit=0\n"
          "wmm_ac_bk_acm=0\n"
          "wmm_ac_be_aifs=3\n"
          "wmm_ac_be_cwmin=4\n"
          "wmm_ac_be_cwmax=10\n"
          "wmm_ac_be_txop_limit=0\n"
          "wmm_ac_be_acm=0\n"
          "wmm_ac_vi_aifs=2\n"
          "wmm_ac_vi_cwmin=3\n"
          "wmm_ac_vi_cwmax=4\n"
          "wmm_ac_vi_txop_limit=94\n"
          "wmm_ac_vi_acm=0\n"
          "wmm_ac_vo_aifs=2\n"
          "wmm_ac_vo_cwmin=2\n"
          "wmm_ac_vo_cwmax=3\n"
          "wmm_ac_vo_txop_limit=47\n"
          "wmm_ac_vo_acm=0\n"
          "eapol_key_index_workaround=0\n"
          "eap_server=0\n"
          "own_ip_addr=127.0.0.1\n"
          "wps_state=0\n",
          stream);
    return finishStream(stream);
}

int genDMQConf(const char *filePath, const char *gateway, const char *rangeStart,
               const char *rangeEnd) {
    FILE *stream = fopen(filePath, "wt");
    if (stream == nullptr)
        return 0;
    fputs(generatedFileBanner, stream);
    fputs("interface=wlan0\n"
          "bind-interfaces\n"
          "except-interface=lo\n",
          stream);
    fprintf(stream, "dhcp-range=%s,%s,12h\n", rangeStart, rangeEnd);
    fprintf(stream, "dhcp-option=3,%s\n", gateway);
    fprintf(stream, "dhcp-option=6,%s\n", dnsServer);
    return finishStream(stream);
}
