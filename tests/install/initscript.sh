#!/bin/bash
# The init script under a POSIX shell (dash and BusyBox ash), run by its path
# as init does (so its own process is named holdSentry too): starts one
# host-built holdSentry, reports it, never starts a second, stops it with
# SIGTERM (status 0), restarts the new program after an upgrade replaced the
# file, and reports a daemon that cannot start.
#   initscript.sh INIT_SCRIPT        (inside the sandbox, holdSentry on PATH)
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "${SANDBOX:-}" = 1 ] || fail "run me inside the sandbox"

attribute=/sys/bus/i2c/devices/2-0030/factory_reset
work=$(mktemp -d)
# The installed script starts /usr/sbin/holdSentry; here it is a copy of the
# build's, which the test can replace as a package upgrade would.
daemon=$work/sbin/holdSentry
mkdir "$work/sbin" "$work/init.d"
cp "$(command -v holdSentry)" "$daemon"
sed "s|^DAEMON=.*|DAEMON=$daemon|" "$1" >"$work/init"
grep -q "^DAEMON=/.*/holdSentry$" "$work/init" || fail "no DAEMON line in $1"
init=$work/init.d/holdSentry

pidsOf() { pidof holdSentry || true; }

# run SHELL ACTION EXPECTED_STATUS EXPECTED_OUTPUT_REGEX
run() {
    local status=0 out
    out=$("$init" "$2" 2>&1) || status=$?
    [ "$status" = "$3" ] || fail "$1 $2: status $status ($out)"
    [[ $out =~ $4 ]] || fail "$1 $2: output '$out'"
}

# exitedWith PID STATUS: the sandbox's PID 1 reaped the orphaned daemon.
exitedWith() {
    grep -qx "$1 $2" /run/sandbox/reaped || fail "pid $1 did not end with $2: $(cat /run/sandbox/reaped)"
}

# upgrade: replaces the program file the way dpkg does (new file renamed over).
upgrade() {
    cp "$daemon" "$daemon.new" && echo >>"$daemon.new" && mv "$daemon.new" "$daemon"
}

scenario() {
    local sh=$1 first second third
    # Installed under a path ending in holdSentry and started by that path.
    { echo "#!$sh"; tail -n +2 "$work/init"; } >"$init"
    chmod 755 "$init"
    mkdir -p "${attribute%/*}"
    echo 0 >"$attribute"
    rm -f /tmp/applog

    run "$sh" status 3 "^holdSentry is not running$"
    run "$sh" stop 0 "^holdSentry is not running$"
    run "$sh" start 0 "^holdSentry started$"
    first=$(pidsOf)
    [[ $first =~ ^[0-9]+$ ]] || fail "$sh: running: '$first'"
    [ "$(cat /tmp/applog)" = "holdSentry V1.01" ] || fail "$sh: applog '$(cat /tmp/applog)'"
    run "$sh" status 0 "^holdSentry is running \(pid $first\)$"
    run "$sh" start 0 "^holdSentry is already running$"
    [ "$(pidsOf)" = "$first" ] || fail "$sh: second start changed '$first' to '$(pidsOf)'"

    run "$sh" restart 0 $'^holdSentry stopped\nholdSentry started$'
    exitedWith "$first" 0
    second=$(pidsOf)
    [[ $second =~ ^[0-9]+$ && $second != "$first" ]] || fail "$sh: after restart: '$second'"

    # After an upgrade the running watcher's program is "(deleted)": restart
    # must still stop it, and leave exactly one watcher, on the new program.
    upgrade
    run "$sh" restart 0 $'^holdSentry stopped\nholdSentry started$'
    exitedWith "$second" 0
    third=$(pidsOf)
    [[ $third =~ ^[0-9]+$ && $third != "$second" ]] || fail "$sh: after upgrade and restart: '$third'"
    [ "$(readlink "/proc/$third/exe")" = "$daemon" ] || fail "$sh: not the new program"

    run "$sh" stop 0 "^holdSentry stopped$"
    exitedWith "$third" 0
    [ -z "$(pidsOf)" ] || fail "$sh: still running after stop"

    # Two starts at once (boot script and an operator, say) make one daemon.
    "$init" start >"$work/a" 2>&1 &
    "$init" start >"$work/b" 2>&1 &
    wait
    [[ $(pidsOf) =~ ^[0-9]+$ ]] || fail "$sh: concurrent starts: '$(pidsOf)' ($(cat "$work/a" "$work/b"))"
    run "$sh" stop 0 "^holdSentry stopped$"
    [ ! -e /run/holdSentry.start ] || fail "$sh: start lock left behind"

    # Without the button driver the daemon ends at once: start says so.
    rm "$attribute"
    run "$sh" start 1 "failed to start"
    run "$sh" status 3 "not running"
    run "$sh" bogus 2 "^usage: "
    echo "$sh: OK"
}

scenario "$(command -v sh)"
scenario "$(command -v busybox) sh"
