#!/bin/bash
# The measurements that run the device's programs, inside the sandbox only:
#   tests/sandbox/sandbox --bin build/bench/bin -- bash bench/inside.sh OUTDIR SECONDS
# holdSentry at rest (system calls per poll, private memory, CPU time), then
# macPrint and apStarter start-up and run time with hyperfine. Results go to
# OUTDIR as small files that bench/run turns into docs/performance.md.
set -euo pipefail
out=$1 seconds=$2
if [ "${SANDBOX:-}" != 1 ]; then
    echo "inside.sh: runs the device's programs, so only inside tests/sandbox/sandbox" >&2
    exit 1
fi
mkdir -p "$out"

# holdSentry at rest: button released, identity provisioned, as the tests do it.
here=$SANDBOX_ROOT/tests/system
# shellcheck source=tests/system/lib.sh
. "$here/lib.sh"
# shellcheck source=tests/system/reset_lib.sh
. "$here/reset_lib.sh"
provision
start_daemon
pid=$daemon
sleep 1 # past start-up: only the poll loop is left

# CPU time, without a tracer attached: utime + stime in clock ticks from
# /proc/PID/stat, and the scheduler's nanoseconds on CPU from schedstat.
cpu() { echo "$(sed 's/.*) //' /proc/"$pid"/stat | awk '{ print $12 + $13 }') $(cut -d' ' -f1 /proc/"$pid"/schedstat)"; }
read -r ticks0 ns0 < <(cpu)
start=$(date +%s.%N)
sleep "$seconds"
read -r ticks1 ns1 < <(cpu)
end=$(date +%s.%N)
{
    echo "interval_s=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')"
    echo "clk_tck=$(getconf CLK_TCK)"
    echo "ticks=$((ticks1 - ticks0))"
    echo "cpu_ns=$((ns1 - ns0))"
} >"$out/holdsentry-cpu.txt"

grep -E '^(Rss|Pss|Private_Clean|Private_Dirty|Shared_Clean|Shared_Dirty|Swap):' \
    /proc/"$pid"/smaps_rollup >"$out/holdsentry-smaps.txt"

# System calls: a tracer attached for a few seconds of polling.
timeout -s INT 5 strace -qq -tt -p "$pid" -o "$out/holdsentry.strace" || true
kill -TERM "$pid"
for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
done

# Start-up and run time next to the shell's way of doing the same. Inside, /sys
# is a tmpfs: a sysfs mounted in this mount namespace shows only this network
# namespace, whose eth0 is a tap made here.
make_eth0 0a:1b:2c:3d:4e:ff
mount -t sysfs sysfs /sys
commands=()
if command -v macPrint >/dev/null; then commands+=("macPrint eth0"); fi
commands+=("cat /sys/class/net/eth0/address" "ip -br link")
hyperfine -N --warmup 20 --min-runs 300 --export-json "$out/macprint.json" "${commands[@]}" \
    >"$out/macprint.txt" 2>&1
if command -v apStarter >/dev/null; then
    # Every service command is a fake that exits at once: this is apStarter's
    # own work plus the shells it starts, not the services' start-up.
    hyperfine -N --warmup 5 --min-runs 50 --export-json "$out/apstarter.json" apStarter \
        >"$out/apstarter.txt" 2>&1
    # One run's commands in order: the record holds every run's.
    cut -d' ' -f4- "$SANDBOX_RECORD" | awk '!seen[$0]++' >"$out/apstarter-commands.txt"
fi
