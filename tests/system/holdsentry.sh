#!/bin/bash
# The reset-button daemon, for real, inside the sandbox: holdsentry.sh SCENARIO
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/system/lib.sh
. "$here/lib.sh"

# shellcheck source=tests/system/reset_lib.sh
. "$here/reset_lib.sh"

# Holds the button for $1 seconds, then releases it.
hold_button() {
    echo 1 >"$button"
    sleep "$1"
    echo 0 >"$button"
}

expect_reset() { # $1: expected supplicant file
    wait_for 15 recorded_has "reboot" || fail "no reboot after a long hold"
    expect_eq "commands" "aplay /usr/share/voice_hints/normalreset.wav
reboot" "$(recorded)"
    local pause
    pause=$(awk '$3 == "aplay" { a = $1 } $3 == "reboot" { r = $1 } END { print (r - a >= 2) }' "$SANDBOX_RECORD")
    expect_eq "at least 2 s between prompt and reboot" 1 "$pause"
    expect_file_bytes /app/etc/corehub.conf "$here/expected/corehub.conf"
    expect_file_bytes /tmp/netconf.conf "$here/expected/netconf.conf"
    expect_file_bytes /tmp/wpa_supplicant.conf "$1"
    expect_file_bytes /app/etc/wifilist.conf "$here/expected/wifilist.conf"
    expect_eq "background status" 0 "$(reaped_status "$daemon" 5)"
    expect_eq "leftover temporary files" "" "$(find /app/etc /tmp -maxdepth 1 -name '.*.new')"
    # What the started commands really hold: nothing the daemon opened, the button above all.
    expect_eq "commands that noted descriptors" "aplay reboot" "$(cut -d' ' -f2 /run/sandbox/fds | xargs)"
    expect_eq "inherited descriptors" "" \
        "$(grep -oE "[0-9]+=($button|/tmp/applog|/boot/|/app/|/tmp/\.)[^ ]*" /run/sandbox/fds || true)"
}

expect_no_reset() {
    expect_eq "commands" "" "$(recorded)"
    for file in "${defaults[@]}"; do expect_eq "$file" "old $file" "$(cat "$file")"; done
}

scenario_reset() {
    provision
    start_daemon
    expect_eq "/tmp/applog" "earlier boot
holdSentry V1.01" "$(cat /tmp/applog)"
    hold_button 5.4
    expect_reset "$here/expected/wpa_supplicant.conf"
}

# Short holds change nothing, even three spread over more than 5 s: each press
# is timed afresh. The next long one still resets, and an identity with a key
# missing leaves that key and the later ones empty.
scenario_short_then_long() {
    provision
    sed -i '/^hw_model_number/d' /boot/hw.conf
    start_daemon
    hold_button 1.5 && sleep 1 && hold_button 1.5 && sleep 1 && hold_button 1.5
    sleep 0.5
    expect_no_reset
    hold_button 5.4
    expect_reset "$here/expected/wpa_supplicant-no-model-number.conf"
}

scenario_sigterm_while_held() {
    provision
    start_daemon
    echo 1 >"$button"
    sleep 1
    kill -TERM "$daemon"
    expect_eq "background status" 0 "$(reaped_status "$daemon" 5)"
    echo 0 >"$button"
    sleep 0.3
    expect_no_reset
}

# Whoever starts the daemon sees 0 at once; the background process ends with 1
# when it cannot open the button attribute or a trustworthy /tmp/applog.
scenario_unopenable() {
    provision
    rm "$button"
    holdSentry || fail "holdSentry returned $?"
    wait_for 5 reaped_any || fail "daemon without a button attribute did not end"
    expect_eq "status without button attribute" 1 "$(reaped_statuses)"
    expect_eq "/tmp/applog" "earlier boot" "$(cat /tmp/applog)"

    # What an image may put at /tmp/applog: links owned by root, chained, in any
    # component, to persistent storage. A FIFO must not hang the start-up.
    applog_cases <<'CASES'
ln -s /app/log/applog /tmp/applog|runs|/app/log/applog
ln -s /tmp/logs/applog /tmp/applog && ln -s ../app/log /tmp/logs|runs|/app/log/applog
ln -s /logs/applog /tmp/applog && ln -s app/log /logs|runs|/app/log/applog
ln -s /tmp/applog.2 /tmp/applog && ln -s /app/log/fresh /tmp/applog.2|runs|/app/log/fresh
ln -s /tmp/applog /tmp/applog.2 && ln -s /tmp/applog.2 /tmp/applog|refused|
mkfifo /tmp/applog|refused|
mkdir /tmp/applog|refused|
ln -s /dev/null /tmp/applog|refused|
CASES
}

# Links that another user planted in world-writable /tmp must not redirect
# root's write, wherever they stand in the path.
scenario_planted_link() {
    [ "${SANDBOX_USERNS:-}" != 1 ] || skip "a user namespace maps no other user to own a link"
    applog_cases <<'CASES'
ln -s /app/log/applog /tmp/applog && chown -h 65534 /tmp/applog|refused|
ln -s /tmp/logs/applog /tmp/applog && ln -s /app/log /tmp/logs && chown -h 65534 /tmp/logs|refused|
CASES
}

# Each line of standard input: SETUP|runs|LOG or SETUP|refused|. The daemon
# starts after SETUP made /tmp/applog; it either writes its banner to LOG and
# runs, or ends with status 1 leaving /app/log/applog untouched.
applog_cases() {
    local setup outcome log
    while IFS='|' read -r setup outcome log; do
        rm -rf /tmp/applog /tmp/applog.2 /tmp/logs /logs
        provision
        : >/run/sandbox/reaped
        mkdir -p /app/log && echo "untouched" >/app/log/applog
        rm /tmp/applog
        eval "$setup"
        holdSentry || fail "holdSentry returned $?"
        if [ "$outcome" = runs ]; then
            wait_for 5 grep -qsx "holdSentry V1.01" "$log" || fail "[$setup]: no banner in $log"
            daemon=$(daemon_pid holdSentry) || fail "[$setup]: the daemon is not running"
            kill -TERM "$daemon"
            expect_eq "[$setup] status after SIGTERM" 0 "$(reaped_status "$daemon" 5)"
        else
            wait_for 5 reaped_any || fail "[$setup]: the daemon did not end"
            expect_eq "[$setup] status" 1 "$(reaped_statuses)"
            expect_eq "[$setup] link target" "untouched" "$(cat /app/log/applog)"
        fi
    done
}

# A full /app: the old files stay whole, no temporary file remains, and the
# reset still writes the other files and reboots.
scenario_full_app() {
    provision
    mount -t tmpfs -o size=64k tmpfs /app/etc
    for file in /app/etc/corehub.conf /app/etc/wifilist.conf; do echo "old $file" >"$file"; done
    dd if=/dev/zero of=/app/etc/filler bs=1k count=1024 2>/dev/null && fail "filler did not fill /app/etc"
    start_daemon
    hold_button 5.4
    wait_for 15 recorded_has "reboot" || fail "no reboot with a full /app"
    expect_eq "/app/etc" "corehub.conf filler wifilist.conf" "$(cd /app/etc && shopt -s dotglob && echo *)"
    for file in /app/etc/corehub.conf /app/etc/wifilist.conf; do
        expect_eq "$file" "old $file" "$(cat "$file")"
    done
    expect_file_bytes /tmp/netconf.conf "$here/expected/netconf.conf"
    expect_file_bytes /tmp/wpa_supplicant.conf "$here/expected/wpa_supplicant.conf"
}

"scenario_$1"
echo "PASS: holdSentry $1"
