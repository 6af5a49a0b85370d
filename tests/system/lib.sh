# Helpers for system test scripts, which run inside tests/sandbox/sandbox.
# Source it: . "$(dirname "$0")/lib.sh"
# shellcheck shell=bash

if [ "${SANDBOX:-}" != 1 ]; then
    echo "FAIL: system tests run only inside tests/sandbox/sandbox" >&2
    exit 1
fi

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# skip REASON: this test cannot run here (CTest reports it as skipped).
skip() {
    echo "SKIP: $*"
    exit 77
}

# expect_eq WHAT EXPECTED ACTUAL
expect_eq() {
    [ "$2" = "$3" ] || fail "$1: expected '$2', got '$3'"
}

# expect_file_bytes FILE EXPECTED: EXPECTED is a file to compare with, or else
# a printf format giving the exact bytes.
expect_file_bytes() {
    local want
    [ -f "$1" ] || fail "$1 does not exist"
    # shellcheck disable=SC2059 # the format is the expectation
    if [ -f "$2" ]; then want=$(od -An -c "$2"); else want=$(printf "$2" | od -An -c); fi
    [ "$(od -An -c "$1")" = "$want" ] ||
        fail "$1 differs from the expected bytes:$(diff <(echo "$want") <(od -An -c "$1"))"
}

# The fakes' calls, one per line: "argv0 args..." / the full record line.
recorded() { cut -d' ' -f4- "$SANDBOX_RECORD"; }
recorded_full() { cat "$SANDBOX_RECORD"; }

# wait_for TIMEOUT_S COMMAND...: polls COMMAND every 0.05 s; fails on timeout.
wait_for() {
    local tries
    tries=$(awk -v t="$1" 'BEGIN { printf "%d", t * 20 + 1 }')
    shift
    until "$@"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || fail "timed out waiting for: $*"
        sleep 0.05
    done
}

# reaped_status PID TIMEOUT_S: the exit status (or 128+signal) of an orphan
# that the sandbox's PID 1 reaped.
reaped_status() {
    wait_for "$2" grep -q "^$1 " /run/sandbox/reaped
    awk -v pid="$1" '$1 == pid { print $2; exit }' /run/sandbox/reaped
}

# make_link NAME MAC: a veth interface with that name and address, up (its
# peer stays down). A tap would need /dev/net/tun, which only the machine's
# root may open.
make_link() {
    ip link add name "$1" address "$2" type veth && ip link set dev "$1" up
}

# make_eth0 MAC: eth0 with that address, up.
make_eth0() {
    make_link eth0 "$1" || fail "cannot create eth0 with address $1"
}

# recorded_has ARGV0: whether a fake was called by that name.
recorded_has() { cut -d' ' -f4 "$SANDBOX_RECORD" | grep -qx -- "$1"; }

# Orphans reaped so far: whether any / their statuses, one per line.
reaped_any() { [ -s /run/sandbox/reaped ]; }
reaped_statuses() { awk '{ print $2 }' /run/sandbox/reaped; }

# daemon_pid NAME: the one running process of our program NAME (under an
# emulator its process name is the emulator's, so match the wrapper's -0 NAME).
daemon_pid() {
    local pids
    if [ -n "${SANDBOX_EMULATOR:-}" ]; then pids=$(pgrep -f -- "-0 $1 "); else pids=$(pgrep -x "$1"); fi
    [ -n "$pids" ] && [ "$(wc -w <<<"$pids")" = 1 ] && echo "$pids"
}
