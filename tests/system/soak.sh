#!/bin/bash
# Soak, run by hand (make soak): holdSentry polls for SOAK_SECONDS (default 60)
# while the button attribute cycles through values other than "0" and "1" and
# presses shorter than 5 s. Expected: no reset, and neither the open
# descriptors nor the resident memory grow. Prints the daemon's CPU time over
# the run and its extrapolation to an hour.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/system/lib.sh
. "$here/lib.sh"
# shellcheck source=tests/system/reset_lib.sh
. "$here/reset_lib.sh"

seconds=${SOAK_SECONDS:-60}
fds() { find "/proc/$daemon/fd" -mindepth 1 | wc -l; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$daemon/status"; }
cpu_ns() { awk '{ print $1 }' "/proc/$daemon/schedstat"; }

provision
start_daemon
# Warm-up: one short press and one other value, so that every code path of the loop has
# run once and its pages are resident before the baseline is taken.
echo 1 >"$button" && sleep 0.3 && echo 0 >"$button" && sleep 0.3
echo x >"$button" && sleep 0.3 && echo 0 >"$button" && sleep 0.3
echo "descriptors: $(ls -l "/proc/$daemon/fd" | awk 'NR > 1 { printf "%s->%s ", $9, $11 }')"
fds0=$(fds) rss0=$(rss_kb) cpu0=$(cpu_ns) t0=$(date +%s.%N)
echo "start: fds $fds0, VmRSS $rss0 kB"

noise=('2' 'x' '' '\0' ' ' '\n' 'true' '\xff\xfe' '-1' '9999999999999999999999999')
presses=0 values=0 fdsmax=$fds0 rssmax=$rss0
end=$((SECONDS + seconds))
while [ $SECONDS -lt $end ]; do
    if [ $((RANDOM % 3)) -eq 0 ]; then
        # A press of 0.1 to 4.5 s: at most 4.6 s as measured at 100 ms polls.
        echo 1 >"$button"
        sleep "$(awk -v r=$RANDOM 'BEGIN { printf "%.1f", 0.1 + (r % 45) / 10 }')"
        echo 0 >"$button"
        presses=$((presses + 1))
    else
        printf -- "${noise[RANDOM % ${#noise[@]}]}" >"$button"
        values=$((values + 1))
    fi
    sleep 0.$((RANDOM % 5 + 1))
    daemon_alive || fail "the daemon ended"
    f=$(fds) r=$(rss_kb)
    [ "$f" -le "$fdsmax" ] || fdsmax=$f
    [ "$r" -le "$rssmax" ] || rssmax=$r
done
echo 0 >"$button"
sleep 0.3
fds1=$(fds) rss1=$(rss_kb) cpu1=$(cpu_ns) t1=$(date +%s.%N)
expect_no_reset_yet
echo "end:   fds $fds1 (max $fdsmax), VmRSS $rss1 kB (max $rssmax kB)"
echo "input: $presses short presses, $values other values"
awk -v c0="$cpu0" -v c1="$cpu1" -v t0="$t0" -v t1="$t1" 'BEGIN {
    cpu = (c1 - c0) / 1e9; wall = t1 - t0
    printf "cpu:   %.3f s over %.1f s (%.4f%%), %.1f s per hour\n", cpu, wall, 100 * cpu / wall, cpu * 3600 / wall }'
expect_eq "open descriptors" "$fds0" "$fds1"
expect_eq "highest descriptor count" "$fds0" "$fdsmax"
expect_eq "resident memory (kB)" "$rss0" "$rssmax"
kill -TERM "$daemon"
expect_eq "status after SIGTERM" 0 "$(reaped_status "$daemon" 5)"
echo "PASS: soak"
