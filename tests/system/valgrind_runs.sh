#!/bin/bash
# The programs' runs under valgrind memcheck, inside the sandbox (scripts/valgrind):
#   valgrind_runs.sh DIR     DIR holds the host build's programs
# Every process (the daemon's forks included; not the commands they start)
# writes /run/vg/NAME.PID.log; each must report no error and no leaked block.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/system/lib.sh
. "$here/lib.sh"
# shellcheck source=tests/system/reset_lib.sh
. "$here/reset_lib.sh"

bin=$(cd "$1" && pwd)
mkdir -p /run/vg
# Programs run as `vg NAME ARGS...`.
vg() {
    local name=$1
    shift
    /usr/bin/valgrind -q --vgdb=no --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=all \
        --track-fds=no --log-file="/run/vg/$name.%p.log" "$bin/$name" "$@"
}

# The daemon under valgrind: its process is valgrind's, so find it by its log file.
start_vg_daemon() {
    : >/tmp/applog
    vg holdSentry || fail "holdSentry returned $?"
    wait_for 30 grep -qx "holdSentry V1.01" /tmp/applog
    daemon=""
    local log pid
    for log in /run/vg/holdSentry.*.log; do
        pid=${log#/run/vg/holdSentry.} pid=${pid%.log}
        ! kill -0 "$pid" 2>/dev/null || daemon=$pid
    done
    [ -n "$daemon" ] || fail "holdSentry is not running in the background"
}

holdsentry_runs() {
    # A reset.
    provision
    start_vg_daemon
    hold_to_reset
    wait_for 30 recorded_has reboot
    expect_eq "status after the reset" 0 "$(reaped_status "$daemon" 30)"
    # A stop on SIGTERM while the button is held, with a hw.conf of long and binary lines.
    provision
    { printf 'hw_device_name = %s\n' "$(head -c 200 /dev/zero | tr '\0' d)"
      head -c 100000 /dev/zero | tr '\0' x; echo; head -c 20000 /dev/urandom; } >/boot/hw.conf
    start_vg_daemon
    echo 1 >"$button"
    sleep 0.5
    kill -TERM "$daemon"
    expect_eq "status after SIGTERM" 0 "$(reaped_status "$daemon" 30)"
    # No button attribute.
    provision
    rm "$button"
    vg holdSentry || fail "holdSentry returned $?"
    wait_for 30 grep -q ' 1$' /run/sandbox/reaped
    echo 0 >"$button"
    echo "holdSentry: reset, SIGTERM, no button attribute"
}

# Runs `vg NAME ARGS...` and checks its exit status: expect_vg STATUS NAME ARGS...
expect_vg() {
    local want=$1 status=0
    shift
    vg "$@" >/dev/null || status=$?
    expect_eq "status of $*" "$want" "$status"
}

program_runs() {
    make_eth0 0a:1b:2c:3d:4e:5f
    expect_vg 0 apStarter
    mount -o remount,bind,ro /var
    expect_vg 1 apStarter
    mount -o remount,bind,rw /var
    expect_vg 0 macPrint eth0
    expect_vg 0 macPrint lo
    expect_vg 1 macPrint nosuch0
    expect_vg 1 macPrint "$(printf 'e%.0s' {1..200})"
    expect_vg 1 macPrint a/b
    expect_vg 1 macPrint
    ip link del eth0
    expect_vg 1 apStarter
    # The player replaces the process (its fake exits 0); without a player, status 1.
    expect_vg 0 silencePlayer
    PATH=/nonexistent expect_vg 1 silencePlayer
    echo "apStarter, macPrint, silencePlayer: successes and failures"
}

holdsentry_runs
program_runs

# Every log: nothing but the silence of -q (an error or a leak prints a report).
count=0
for log in /run/vg/*.log; do
    count=$((count + 1))
    if [ -s "$log" ]; then
        echo "FAIL: $log:" >&2
        cat "$log" >&2
        exit 1
    fi
done
echo "PASS: valgrind memcheck: $count processes, no errors, no leaks"
