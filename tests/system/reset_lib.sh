# holdSentry helpers for the scripts that drive the reset daemon (holdsentry.sh,
# crash_reset.sh, bad_inputs.sh, soak.sh), sourced after lib.sh.
# shellcheck shell=bash
# The sourcing script sets $here, its own directory.
: "${here:?}"

button=/sys/bus/i2c/devices/2-0030/factory_reset
defaults=(/app/etc/corehub.conf /tmp/netconf.conf /tmp/wpa_supplicant.conf /app/etc/wifilist.conf)

# A provisioned device whose default files hold an earlier configuration.
provision() {
    mkdir -p "$(dirname "$button")" /app/etc
    echo 0 >"$button"
    cp "$here/files/hw.conf" /boot/hw.conf
    echo "earlier boot" >/tmp/applog
    for file in "${defaults[@]}"; do echo "old $file" >"$file"; done
}

banners() { grep -cx "holdSentry V1.01" /tmp/applog 2>/dev/null || true; }
more_banners_than() { [ "$(banners)" -gt "$1" ]; }

# Starts the daemon (the starting process returns 0 at once) and waits for its
# banner to be appended; sets $daemon.
start_daemon() {
    local before
    before=$(banners)
    holdSentry || fail "holdSentry returned $?"
    wait_for 5 more_banners_than "$before"
    daemon=$(daemon_pid holdSentry) || fail "holdSentry is not running in the background"
}

# A qualifying hold: 5.2 s, then release.
hold_to_reset() {
    echo 1 >"$button"
    sleep 5.2
    echo 0 >"$button"
}

daemon_alive() { kill -0 "$daemon" 2>/dev/null && ! grep -q "^$daemon " /run/sandbox/reaped; }

expect_no_reset_yet() {
    daemon_alive || fail "the daemon ended"
    expect_eq "commands" "" "$(recorded)"
    for file in "${defaults[@]}"; do expect_eq "$file" "old $file" "$(cat "$file")"; done
}
