#!/bin/bash
# Inputs that a device can really meet, done badly: bad_inputs.sh SCENARIO
# (apstarter.sh already covers a read-only and a full /var.)
# Each scenario states the outcome it expects; nothing valid may be lost.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/system/lib.sh
. "$here/lib.sh"
# shellcheck source=tests/system/reset_lib.sh
. "$here/reset_lib.sh"

# The reset happened: prompt, reboot, status 0, no temporary left.
expect_reset() {
    wait_for 15 recorded_has reboot || fail "no reboot"
    expect_eq "commands" "aplay /usr/share/voice_hints/normalreset.wav
reboot" "$(recorded)"
    expect_eq "background status" 0 "$(reaped_status "$daemon" 5)"
    expect_eq "leftover temporary files" "" "$(find /app/etc /tmp -maxdepth 1 -name '.*.new')"
}

# The identity lines of the supplicant defaults: uuid, device name, manufacturer, model name,
# model number, serial number.
identity_lines() { sed -n '/^uuid = /,/^serial_number = /p' /tmp/wpa_supplicant.conf; }

# /boot/hw.conf with binary junk, a NUL byte, CRLF line ends, a line of a megabyte and a value
# of 127 characters between valid entries: the valid entries all arrive, none of the junk does.
scenario_hwconf_mangled() {
    provision
    local name127
    name127=$(printf 'N%.0s' {1..127})
    {
        head -c 4096 /dev/urandom | tr -d '\n='
        printf '\nhw_device_name = %s\r\n' "$name127"
        printf 'hw_manufacturer = Velvora\0Bad\r\n'
        printf 'hw_manufacturer\t=\tVelvora Audio\r\n'
        head -c 1048576 /dev/zero | tr '\0' 'm'
        printf '\r\nhw_model_name = Velvora One\r\n'
        printf 'hw_model_number = '
        head -c 1048576 /dev/zero | tr '\0' '7'
        printf '\r\nhw_model_number = VA-100\r\n'
        printf 'hw_serial_number = VA100-2026-000123\r\nhw_version = 1.2\r\n'
        printf '\x01\x02\xff\xfe\r\nhw_udid = 5f0c2a9e\r\n'
    } >/boot/hw.conf
    start_daemon
    hold_to_reset
    expect_reset
    expect_eq "identity" "uuid = 5f0c2a9e
device_name = $name127
manufacturer = Velvora Audio
model_name = Velvora One
model_number = VA-100
serial_number = VA100-2026-000123" "$(identity_lines)"
}

# A value of 128 characters ends the load there: that key and the later ones are empty.
scenario_hwconf_128() {
    provision
    sed -i "s/^hw_model_number = .*/hw_model_number = $(printf 'x%.0s' {1..128})/" /boot/hw.conf
    start_daemon
    hold_to_reset
    expect_reset
    expect_eq "identity" "uuid = 
device_name = Velvora Living Room
manufacturer = Velvora Audio
model_name = Velvora One
model_number = 
serial_number = " "$(identity_lines)"
}

# /boot/hw.conf a directory (or binary through and through): the daemon runs with an empty
# identity and still resets.
scenario_hwconf_unusable() {
    local empty="uuid = 
device_name = 
manufacturer = 
model_name = 
model_number = 
serial_number = "
    provision
    rm /boot/hw.conf && mkdir /boot/hw.conf
    start_daemon
    hold_to_reset
    expect_reset
    expect_eq "identity with hw.conf a directory" "$empty" "$(identity_lines)"

    provision
    : >"$SANDBOX_RECORD"
    rm -r /boot/hw.conf
    head -c 65536 /dev/urandom | tr -d '=' >/boot/hw.conf
    start_daemon
    hold_to_reset
    expect_reset
    expect_eq "identity with binary hw.conf" "$empty" "$(identity_lines)"
}

# An empty attribute, then garbage (first bytes other than 0 and 1) for longer than a
# qualifying hold: no reset, the daemon keeps polling, and a real hold afterwards resets.
scenario_button_noise() {
    provision
    : >"$button"
    start_daemon
    sleep 1
    local value
    # Garbage for 5.4 s in a row: a daemon that took it for a press would reset on the 0.
    for value in '01234567890123456789' '2' 'x' '\0\0' '\n' ' 1' '-1' '\r0' '\xff' 'true'; do
        printf -- "$value" >"$button"
        sleep 0.6
    done
    echo 0 >"$button"
    sleep 0.3
    expect_no_reset_yet
    hold_to_reset
    expect_reset
}

# The attribute is a directory: it opens but could never be read, so the daemon
# ends at once with status 1, as for a missing attribute, and touches nothing.
scenario_button_directory() {
    provision
    rm "$button" && mkdir "$button"
    holdSentry || fail "holdSentry returned $?"
    wait_for 5 reaped_any
    expect_eq "background status" 1 "$(reaped_statuses)"
    expect_eq "/tmp/applog" "earlier boot" "$(cat /tmp/applog)"
    expect_eq "commands" "" "$(recorded)"
}

# A read-only /app: its files keep their old content, the /tmp files are written, the
# device still reboots.
scenario_readonly_app() {
    provision
    mount -t tmpfs tmpfs /app/etc
    for file in /app/etc/corehub.conf /app/etc/wifilist.conf; do echo "old $file" >"$file"; done
    mount -o remount,bind,ro /app/etc
    start_daemon
    hold_to_reset
    expect_reset
    for file in /app/etc/corehub.conf /app/etc/wifilist.conf; do
        expect_eq "$file" "old $file" "$(cat "$file")"
    done
    expect_file_bytes /tmp/netconf.conf "$here/expected/netconf.conf"
    expect_file_bytes /tmp/wpa_supplicant.conf "$here/expected/wpa_supplicant.conf"
}

# Interface names the kernel cannot know (macprint.sh has the empty, 15- and 16-character
# ones): twelve zeros, status 1, nothing on standard error, never a crash.
scenario_ifnames() {
    local name out status long200
    long200=$(printf 'e%.0s' {1..200})
    make_eth0 0a:1b:2c:3d:4e:ff
    for name in "$long200" "eth0$long200" "eth0/" "/eth0" "a/b" "../eth0" "eth0/../lo" \
        "$(printf '/%.0s' {1..15})" "$(printf '/%.0s' {1..16})"; do
        status=0
        out=$(macPrint "$name" 2>/tmp/stderr) || status=$?
        expect_eq "output for '$name'" 000000000000 "$out"
        expect_eq "status for '$name'" 1 "$status"
        expect_eq "stderr for '$name'" "" "$(cat /tmp/stderr)"
    done
}

"scenario_$1"
echo "PASS: bad inputs: $1"
