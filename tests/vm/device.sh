# The steps of the virtual device's scenarios and of its demo, on top of the
# driver (vm/vm.sh). Each step checks what the device's programs and the real
# daemons report, and prints its evidence. Source it after setting $packages
# (the folder of the device's Debian packages).
# shellcheck shell=bash disable=SC2016 # the guest's shell expands the scripts given to vm_run
: "${packages:?the folder of the device packages}"
vm_tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)
# shellcheck source=vm/vm.sh
. "$vm_tests/../../vm/vm.sh"
expected=$vm_tests/../system/expected

fail() { vm_fail "$*"; }
# Evidence, indented by $VM_INDENT (the demo's layout).
say() { printf '%s%s\n' "${VM_INDENT:-}" "$*"; }
expect_eq() { [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"; }
expect_same_file() { cmp "$2" "$3" || fail "$1 differs from $3"; }
# A factory-fresh unit: the packages to install, its identity, the button up.
device() { # NAME
    why=$(vm_unusable_reason) && { echo "SKIP: $why"; exit 77; }
    vm_new "$1" || { [ $? = 77 ] && exit 77; fail "no base image or run folder"; }
    cp "$packages"/velvora-sysutils_*_armhf.deb "$packages"/velvora-sysutils-pcmdrone-aplay_*_armhf.deb \
        "$VM_SHARE/debs/"
    cp "$vm_tests/../system/files/hw.conf" "$VM_SHARE/hw.conf"
    printf 0 >"$VM_SHARE/button"
}

# Exactly one watcher, by executable, and its parent is PID 1.
one_watcher() {
    local pids
    pids=$(vm_run 'for p in /proc/[0-9]*; do
        [ "$(readlink $p/exe)" = /usr/sbin/holdSentry ] && echo "${p#/proc/} $(awk "/^PPid:/ { print \$2 }" $p/status)"
    done; true')
    expect_eq "watchers (pid, parent pid)" 1 "$(grep -c . <<<"$pids")"
    expect_eq "the watcher's parent" 1 "${pids#* }"
    watcher=${pids% *}
}

# The prompt's samples: the data chunk of the installed WAV (16-bit, 16 kHz).
wav_data() { # WAV OUT
    local at size
    at=$(grep -obUa data "$1" | head -1 | cut -d: -f1)
    size=$(od -An -tu4 -j $((at + 4)) -N4 "$1" | tr -d ' ')
    tail -c +$((at + 9)) "$1" | head -c "$size" >"$2"
}
# Offset of the first non-zero byte, -1 if none (awk reads on: no SIGPIPE for od).
first_nonzero() { od -An -v -tu1 -w1 "$1" | awk '$1 != 0 && !n { n = NR } END { print n - 1 }'; }

# Boots the unit under INIT (busybox or systemd): the init's own boot log
# line for the watcher, exactly one watcher, started by init, and its banner.
check_boot() { # INIT
    local comm started
    vm_boot "$1"
    if [ "$1" = systemd ]; then
        vm_run 'systemctl is-system-running --wait' >/dev/null || true
        expect_eq "holdSentry.service" active "$(vm_run 'systemctl is-active holdSentry.service' || true)"
        comm=systemd started='Started holdSentry\.service'
    else
        comm=busybox started='^holdSentry started$'
    fi
    vm_wait_console "^vm: Linux [^ ]+ armv7l, PID 1 is $comm$" 10
    vm_wait_console "$started" 10
    one_watcher
    expect_eq "/tmp/applog" "holdSentry V1.01" "$(vm_run 'cat /tmp/applog')"
    vm_console | grep -aE "^vm: Linux|$started" | sed "s/^/${VM_INDENT:-}console: /"
    say "watcher: pid $watcher, parent PID 1 ($comm); /tmp/applog: holdSentry V1.01"
}

# The running init's reboot command reboots, and the guest's reboot ends qemu.
check_reboot() {
    vm_run 'reboot >/dev/null 2>&1 &'
    vm_wait_exit 120 || fail "qemu ended with status $? after the reboot"
    vm_console | grep -aq 'reboot: Restarting system' || fail "the guest did not reboot"
    say "reboot: $(vm_console | grep -a -m1 -E 'Reached target.*Reboot|The system is going down') ... Restarting system; qemu ended"
}

# A 5.4 s hold under BusyBox init: the prompt, the reboot, the second boot.
check_reset() {
    local prompt=$VM_RUN/prompt.raw capture at size samples gap
    # Before BusyBox init stops every process: the /tmp files, and the
    # capture ended (raw, so nothing is lost when it is stopped).
    cat >"$VM_SHARE/shutdown.sh" <<'EOF'
cp /tmp/netconf.conf /tmp/wpa_supplicant.conf /mnt/host/out/
kill -INT "$(cat /run/arecord.pid)"
while [ -e "/proc/$(cat /run/arecord.pid)" ]; do sleep 0.05; done
EOF
    vm_run 'modprobe snd-aloop &&
        arecord -q -D hw:Loopback,1,0 -f S16_LE -r 16000 -c 1 -t raw /mnt/host/out/capture.raw &
        echo $! >/run/arecord.pid'
    printf 1 >"$VM_SHARE/button"
    sleep 5.4 # the hold itself
    printf 0 >"$VM_SHARE/button"
    vm_wait_exit 30 || fail "qemu ended with status $? after the reboot"
    vm_console | grep -aq 'reboot: Restarting system' || fail "the guest did not reboot"
    for file in netconf.conf wpa_supplicant.conf; do
        expect_same_file "/tmp/$file" "$VM_SHARE/out/$file" "$expected/$file"
    done
    say "the guest rebooted and qemu ended; before that, /tmp/netconf.conf and /tmp/wpa_supplicant.conf byte-exact"

    # aplay played the prompt into the loopback card: its samples, bit-exact,
    # somewhere in the capture; the reboot came at least 2 s after its end.
    wav_data "$VM_ROOT/data/voice_hints/normalreset.wav" "$prompt"
    capture=$VM_SHARE/out/capture.raw
    size=$(stat -c %s "$prompt")
    at=$(($(first_nonzero "$capture") - $(first_nonzero "$prompt")))
    [ "$at" -ge 0 ] || fail "no prompt in the capture"
    cmp -n "$size" <(tail -c +$((at + 1)) "$capture") "$prompt" || fail "the capture does not hold the prompt"
    samples=$((size / 2))
    gap=$(awk -v s=$(($(stat -c %s "$capture") - at - size)) 'BEGIN { printf "%.2f", s / 2 / 16000 }')
    say "capture: $(($(stat -c %s "$capture") / 2)) samples; the prompt's $samples samples bit-exact from sample $((at / 2)); reboot ${gap} s after its end"
    awk -v g="$gap" 'BEGIN { exit !(g >= 2) }' || fail "the reboot came ${gap} s after the prompt"

    # Second boot from the same overlay: the /app files survived, byte-exact.
    check_boot busybox
    vm_run 'cp /app/etc/corehub.conf /app/etc/wifilist.conf /mnt/host/out/'
    for file in corehub.conf wifilist.conf; do
        expect_same_file "/app/etc/$file" "$VM_SHARE/out/$file" "$expected/$file"
    done
    say "second boot: /app/etc/corehub.conf and /app/etc/wifilist.conf byte-exact"
}

# Client mode, then apStarter: the real hostapd and dnsmasq serve a phone.
check_ap() {
    local ssid=Velvora-${VM_MAC//:/} state info lease router dns
    # Two radios; the second is a phone's, in a network namespace of its own.
    # The device starts in client mode, looking for its owner's network, with
    # the factory-reset DHCP client file.
    cp "$expected/netconf.conf" "$VM_SHARE/out/"
    printf 'ctrl_interface=/run/wpa_supplicant\nnetwork={\n    ssid="home"\n    key_mgmt=NONE\n}\n' \
        >"$VM_SHARE/out/client.conf"
    vm_run 'modprobe mac80211_hwsim radios=2 && ip netns add phone && iw phy phy1 set netns name phone &&
        wpa_supplicant -B -i wlan0 -c /mnt/host/out/client.conf &&
        dhcpcd -f /mnt/host/out/netconf.conf wlan0 >/dev/null 2>&1 && pgrep -x wpa_supplicant && pgrep -x dhcpcd' >/dev/null ||
        fail "client mode did not start"
    vm_run 'apStarter' >/dev/null || fail "apStarter failed"
    vm_run '! pgrep -x wpa_supplicant && ! pgrep -x dhcpcd' >/dev/null || fail "a client daemon still runs"
    state=$(vm_run 'hostapd_cli -i wlan0 status' | grep -x 'state=ENABLED') || fail "the AP is not enabled"
    info=$(vm_run 'iw dev wlan0 info')
    if ! grep -q "type AP" <<<"$info" || ! grep -q "ssid $ssid" <<<"$info" || ! grep -q "channel 1 (2412 MHz)" <<<"$info"; then
        fail "wlan0 is not the AP: $info"
    fi
    say "wlan0: hostapd $state, type AP, ssid $ssid, channel 1; no wpa_supplicant, no dhcpcd"

    # The phone scans, sees the network on channel 1, associates (open
    # network) and asks for an address.
    cat >"$VM_SHARE/out/phone.conf" <<EOF
network={
    ssid="$ssid"
    key_mgmt=NONE
}
EOF
    cat >"$VM_SHARE/out/lease.sh" <<'EOF'
#!/bin/sh
[ "$1" = bound ] && echo "$ip $router $dns" >/tmp/lease
exit 0
EOF
    vm_run "ip netns exec phone sh -c 'ip link set wlan1 up
        for i in 1 2 3 4 5 6 7 8 9 10; do
            iw dev wlan1 scan | grep -A5 \"SSID: $ssid\" | grep -q \"DS Parameter set: channel 1\$\" && exit 0; sleep 1
        done; exit 1'" || fail "the phone does not see $ssid on channel 1"
    say "phone: sees $ssid on channel 1"
    info=$(vm_run "ip netns exec phone wpa_supplicant -i wlan1 -c /mnt/host/out/phone.conf >/tmp/phone.log 2>&1 &
        for i in \$(seq 100); do grep -m1 CTRL-EVENT-CONNECTED /tmp/phone.log && exit 0; sleep 0.1; done; exit 1") ||
        fail "the phone did not associate"
    say "phone: $info"
    vm_run 'chmod +x /mnt/host/out/lease.sh &&
        ip netns exec phone timeout 30 busybox udhcpc -f -q -n -i wlan1 -s /mnt/host/out/lease.sh >/dev/null 2>&1 && cat /tmp/lease' >"$VM_RUN/lease" ||
        fail "the phone got no lease"
    read -r lease router dns <"$VM_RUN/lease"
    say "lease: $lease router $router dns $dns"
    [[ $lease =~ ^192\.168\.188\.1[0-9][0-9]$ ]] || fail "leased address $lease outside .100-.199"
    expect_eq "router" 192.168.188.1 "$router"
    expect_eq "DNS server" "$(sed -n 's/^dhcp-option=6,//p' "$expected/dnsmask.conf")" "$dns"
}

check_silence() {
    local player params bytes
    # silencePlayer becomes the player (the packaged pcmdrone is aplay), in
    # its own process, playing CD-format silence until it is killed.
    player=$(vm_run 'modprobe snd-aloop && { silencePlayer >/dev/null 2>&1 & echo $!; }')
    params=$(vm_run 'f=/proc/asound/Loopback/pcm0p/sub0/hw_params
        for i in $(seq 100); do grep -q format "$f" && break; sleep 0.1; done; cat "$f"')
    if ! grep -qx 'format: S16_LE' <<<"$params" || ! grep -qx 'channels: 2' <<<"$params" ||
        ! grep -q '^rate: 44100 ' <<<"$params"; then
        fail "the player does not play CD format: $params"
    fi
    expect_eq "the player's program" /usr/bin/aplay "$(vm_run "readlink /proc/$player/exe")"
    say "silencePlayer (pid $player) is now aplay, playing S16_LE, 2 channels, 44100 Hz"
    vm_run 'arecord -q -D hw:Loopback,1,0 -f cd -t raw -d 2 /mnt/host/out/silence.raw' || fail "no capture"
    bytes=$(stat -c %s "$VM_SHARE/out/silence.raw")
    [ "$bytes" -ge 352800 ] || fail "capture of $bytes bytes, expected 2 s of CD audio"
    cmp -n "$bytes" "$VM_SHARE/out/silence.raw" /dev/zero || fail "the capture is not silent"
    say "capture: $((bytes / 4)) stereo frames, all zero"
    vm_run "kill $player; while [ -e /proc/$player ]; do sleep 0.05; done
        grep -qx closed /proc/asound/Loopback/pcm0p/sub0/hw_params" || fail "the playback did not stop with pid $player"
    say "kill $player: the player is gone, the sound card's output closed"
}

check_macprint() {
    expect_eq "macPrint eth0" "${VM_MAC//:/}" "$(vm_run 'macPrint eth0')"
    say "macPrint eth0: ${VM_MAC//:/}"
}

