#!/bin/bash
# macPrint: output line, exit status and a silent standard error in every case.
# Argument: the exec_argc0 helper.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
execArgc0=$1
zeros=000000000000

make_eth0 0a:1b:2c:3d:4e:ff
# A name of exactly 15 characters: its 16-character extensions must never be
# truncated into it.
make_link abcdefghijklmno 80:ff:a7:c5:01:fe

# Runs macPrint ARGS... and checks stdout, status and an empty stderr.
check() { # OUTPUT STATUS ARGS...
    local want=$1 status=$2
    shift 2
    local out
    out=$(macPrint "$@" 2>/tmp/stderr)
    expect_eq "status of macPrint $*" "$status" "$?"
    expect_eq "output of macPrint $*" "$want" "$out"
    expect_eq "stderr of macPrint $*" "" "$(cat /tmp/stderr)"
}

check 0a1b2c3d4eff 0 eth0
check 80ffa7c501fe 0 abcdefghijklmno
check $zeros 0 lo
check $zeros 1 nosuch0
check $zeros 1 abcdefghijklmnoX
check $zeros 1 abcdefghijklmnopqrstuvwxyz0123456789
check $zeros 1 ""
check "usage: macPrint <ifname>" 1
check "usage: macPrint <ifname>" 1 eth0 lo

# An emulator's wrapper chooses argument 0 itself.
emulated=${SANDBOX_EMULATOR:-}
[ "$(head -c2 "$(command -v macPrint)")" != '#!' ] || emulated=1

if [ -z "$emulated" ]; then
    # The invocation name is whatever the caller passed as argument 0.
    out=$(exec -a /usr/bin/mp macPrint 2>/tmp/stderr)
    expect_eq "status with argv[0] /usr/bin/mp" 1 "$?"
    expect_eq "usage with argv[0] /usr/bin/mp" "usage: /usr/bin/mp <ifname>" "$out"

    # An empty argument list: argument 0 is missing (or, on newer kernels, empty).
    out=$("$execArgc0" "$(command -v macPrint)" 2>/tmp/stderr)
    expect_eq "status with argc 0" 1 "$?"
    expect_eq "usage with argc 0" "usage: macPrint <ifname>" "$out"
    expect_eq "stderr with argc 0" "" "$(cat /tmp/stderr)"
fi

# A line that cannot be written is a failure, whatever the address.
for args in eth0 lo ""; do
    macPrint $args >/dev/full 2>/tmp/stderr
    expect_eq "status of macPrint $args on a full stdout" 1 "$?"
    expect_eq "stderr of macPrint $args on a full stdout" "" "$(cat /tmp/stderr)"
done

echo PASS
