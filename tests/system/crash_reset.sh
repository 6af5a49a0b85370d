#!/bin/bash
# holdSentry killed part-way through a factory reset, inside the sandbox.
#   crash_reset.sh trace              the daemon's file system calls during one reset
#   crash_reset.sh kill SYSCALL N     SIGKILL on the daemon's Nth SYSCALL of the reset; then
#                                     each default file must be whole (old or new), at most
#                                     one temporary per target may remain, and the next reset
#                                     must leave the new files and no temporary
# strace attaches to the running daemon (not its commands), so call numbers count from the
# poll loop, where no traced call is made: call N is the Nth of the reset sequence.
# scripts/crash-sweep runs every (SYSCALL, N) in parallel sandboxes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/system/lib.sh
. "$here/lib.sh"
# shellcheck source=tests/system/reset_lib.sh
. "$here/reset_lib.sh"

traced=openat,write,fsync,fdatasync,rename,renameat,renameat2,unlink,unlinkat,close,ftruncate
declare -A new=(
    [/app/etc/corehub.conf]=$here/expected/corehub.conf
    [/tmp/netconf.conf]=$here/expected/netconf.conf
    [/tmp/wpa_supplicant.conf]=$here/expected/wpa_supplicant.conf
    [/app/etc/wifilist.conf]=$here/expected/wifilist.conf
)
# Old contents longer than the new ones: a torn file cannot pass for either.
provision_long_old() {
    provision
    for file in "${defaults[@]}"; do
        printf 'old %s\n%.0s' "$file" {1..40} >"$file"
        cp "$file" "/run/old.${file##*/}"
    done
}

# Starts strace on the daemon with the given extra options, and waits until it is attached.
attach() {
    strace -qq -p "$daemon" -o /run/trace -e trace="$traced" "$@" 2>/run/strace.err &
    tracer=$!
    wait_for 5 awk '/^TracerPid:/ { exit !($2 != 0) }' "/proc/$daemon/status"
}

# One word per default file, "old" or "new", then the temporaries left ("-" when none);
# fails on a file that is neither.
file_states() {
    local file states=() temps
    for file in "${defaults[@]}"; do
        if cmp -s "$file" "${new[$file]}"; then
            states+=("${file##*/}=new")
        elif cmp -s "$file" "/run/old.${file##*/}"; then
            states+=("${file##*/}=old")
        else
            fail "$file is neither its old nor its new content: $(od -c "$file" | head -5)"
        fi
    done
    temps=$(find /app/etc /tmp -maxdepth 1 -name '.*.new' | sort | tr '\n' ' ')
    echo "${states[*]} temps: ${temps:--}"
}

scenario_trace() {
    provision_long_old
    start_daemon
    attach
    hold_to_reset
    expect_eq "daemon status" 0 "$(reaped_status "$daemon" 20)"
    wait "$tracer" || true
    cat /run/trace
}

scenario_kill() {
    local syscall=$1 n=$2 temp target
    provision_long_old
    start_daemon
    attach -e inject="$syscall:signal=KILL:when=$n"
    hold_to_reset
    expect_eq "daemon status (killed at $syscall #$n)" 137 "$(reaped_status "$daemon" 20)"
    wait "$tracer" || true
    local killed_at
    killed_at=$(grep -v '^+++' /run/trace | tail -1)
    local states
    states=$(file_states)
    # A temporary is named after its target; anything else would be a stray file.
    while read -r temp; do
        target=${temp%/*}/$(basename "$temp" .new)
        target=${target%/*}/${target##*/.}
        [ -n "${new[$target]:-}" ] || fail "stray temporary $temp"
    done < <(find /app/etc /tmp -maxdepth 1 -name '.*.new')

    # The next reset, undisturbed, cleans up.
    start_daemon
    hold_to_reset
    expect_eq "status of the next reset" 0 "$(reaped_status "$daemon" 20)"
    local after
    after=$(file_states)
    expect_eq "after the next reset" "corehub.conf=new netconf.conf=new wpa_supplicant.conf=new wifilist.conf=new temps: -" "$after"
    echo "$syscall #$n | $killed_at | $states"
}

"scenario_$1" "${@:2}"
