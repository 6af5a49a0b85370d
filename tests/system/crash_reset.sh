#!/bin/bash
# holdSentry killed part-way through a factory reset, inside the sandbox.
#   crash_reset.sh trace              one reset traced with its commands, a SIGTERM during the
#                                     prompt and one during the pause; checks the order of its
#                                     steps and calls and the 2 s pause, then prints the daemon's
#                                     file system calls
#   crash_reset.sh kill SYSCALL N     SIGKILL on the daemon's Nth SYSCALL of the reset; then
#                                     each default file must be whole (old or new), at most
#                                     one temporary per target may remain, and the next reset
#                                     must leave the new files and no temporary
# For kill, strace attaches to the running daemon only (not its commands), so call numbers
# count from the poll loop, where no traced call is made: call N is the Nth of the reset.
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

# The traced reset as "TIME EVENT" lines: the daemon's signals, commands started and
# reaped, sleeps (not the poll's), file calls by path and exit; its commands' programs and ends.
reset_events() {
    awk -v daemon="$daemon" -v calls="${traced//,/|}" '
        FILENAME != "/run/trace" { path[$1] = $2; next } # descriptors held at attach
        { pid = $1; t = $2; $1 = $2 = ""; sub(/^ +/, "") }
        /^execve\("/ { name[pid] = $0; sub(/^execve\("([^"]*\/)?/, "", name[pid]); sub(/".*/, "", name[pid]) }
        /^(<\.\.\. )?execve.* = 0$/ { print t, "exec", name[pid] }
        pid != daemon { if (/^exit_group/) print t, "end", name[pid]; next }
        /^--- SIG/ && $2 != "SIGCHLD" { print t, "signal", $2 }
        /^exit_group/ { print t, "exit" }
        /^(clone3?|v?fork)\(/ { print t, "spawn" }
        /wait4.* = [1-9][0-9]*$/ { print t, "reaped" }
        /nanosleep\(/ && !/\{tv_sec=0, tv_nsec=100000000\}/ { print t, "sleep" }
        match($0, "^(" calls ")\\(") {
            call = substr($0, 1, RLENGTH - 1); args = substr($0, RLENGTH + 1); event = call
            if (args ~ /^[0-9]+[,)]/) event = event " " path[args + 0]
            else for (rest = args; match(rest, /"[^"]*"/); rest = substr(rest, RSTART + RLENGTH))
                event = event " " substr(rest, RSTART + 1, RLENGTH - 2)
            if (call == "openat") {
                split(args, arg, ", "); sub(/\).*/, "", arg[3]); event = event " " arg[3]
                if ($NF ~ /^[0-9]+$/) path[$NF] = substr(arg[2], 2, length(arg[2]) - 2)
            }
            print t, event
        }' /run/daemon.fds /run/trace
}

# The reset's steps in order: the prompt to its end, then a full 2 s pause, then each file
# replaced in turn (temporary written, synced, closed, renamed, directory synced), then reboot.
expected_events() {
    local file temp dir
    printf '%s\n' "close $button" spawn "exec sh" "exec aplay" "signal SIGTERM" "end aplay" "end sh" \
        reaped sleep "signal SIGTERM" sleep
    for file in "${defaults[@]}"; do
        dir=${file%/*} temp=$dir/.${file##*/}.new
        printf '%s\n' "unlink $temp" "openat $temp O_WRONLY|O_CREAT|O_EXCL|O_NOFOLLOW|O_CLOEXEC" \
            "write $temp" "fsync $temp" "close $temp" "rename $temp $file" \
            "openat $dir O_RDONLY|O_CLOEXEC|O_DIRECTORY" "fsync $dir" "close $dir"
    done
    printf '%s\n' spawn "exec sh" "exec reboot" "end reboot" "end sh" reaped exit
}

gone() { ! kill -0 "$1" 2>/dev/null; }

# A prompt that lasts, SIGTERM while it plays and again during the pause: the reset goes on.
scenario_trace() {
    local fd pause
    provision_long_old
    export SANDBOX_FAKE_SLEEP_aplay=1.5
    start_daemon
    for fd in /proc/"$daemon"/fd/*; do echo "${fd##*/} $(readlink "$fd")"; done >/run/daemon.fds
    # A later -e trace replaces attach's: the commands and the sleeps too, with times.
    attach -f -ttt -e trace="$traced,clone,clone3,fork,vfork,execve,wait4,nanosleep,clock_nanosleep,exit_group"
    hold_to_reset
    wait_for 10 recorded_has aplay
    kill -TERM "$daemon"
    wait_for 5 gone "$(awk '$3 == "aplay" { print $2 }' "$SANDBOX_RECORD")"
    sleep 0.5
    kill -TERM "$daemon" 2>/dev/null || true
    expect_eq "daemon status" 0 "$(reaped_status "$daemon" 20)"
    wait "$tracer" || true
    reset_events >/run/events
    diff <(expected_events) <(cut -d' ' -f2- /run/events) >&2 ||
        fail "the traced reset differs (< expected, > traced)"
    pause=$(awk '$2 == "end" && $3 == "aplay" { end = $1 } $2 == "unlink" && !first { first = $1 }
        END { printf "%.3f", first - end }' /run/events)
    awk -v p="$pause" 'BEGIN { exit !(p >= 2) }' ||
        fail "only $pause s from the prompt's end to the first default file"
    echo "traced reset: $(wc -l </run/events) steps in order, $pause s from the prompt's end" \
        "to the first file" >&2
    awk -v daemon="$daemon" -v calls="${traced//,/|}" \
        '$1 == daemon && $3 ~ "^(" calls ")\\(" { $1 = $2 = ""; sub(/^ +/, ""); print }' /run/trace
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
