#!/bin/bash
# The sandbox's own test. Without arguments it runs inside the sandbox and
# proves that the commands that could stop this machine only reach the fakes.
# With --from-host it starts sandboxes itself and checks from outside that
# nothing done inside shows on the host.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd -P)
sbx=$here/../sandbox/sandbox
fake=/run/sandbox/fakes/fake

from_host() {
    fail() {
        echo "FAIL: $*" >&2
        exit 1
    }
    local out status top name
    dir=$(mktemp -d "${TMPDIR:-/tmp}/sandbox-test.XXXXXX")
    trap 'rm -rf "$dir"' EXIT
    mkdir "$dir/bin" "$dir/cwd"
    printf '#!/bin/sh\necho native\n' >"$dir/bin/prog"
    printf '#!/bin/sh\necho "emulated: $*"\n' >"$dir/cwd/emu"
    chmod 755 "$dir/bin/prog" "$dir/cwd/emu"

    # Inside, the machine's /tmp and /etc are private and its other directories
    # read-only; only the paths the caller passed stay writable.
    top=$(ls -A /)
    name=marker.${dir##*/}
    # shellcheck disable=SC2016 # expanded inside
    out=$(cd "$dir/cwd" && "$sbx" --bin "$dir/bin" --emulator "$dir/cwd/emu" --record "$dir/record" -- \
        bash -c 'readlink /proc/self/ns/pid /proc/self/ns/mnt /proc/self/ns/net
                 pwd; prog a "b c"; echo inside >"/tmp/$1"; echo inside >"/etc/$1"; echo inside >kept
                 (echo inside >"/usr/$1") 2>/dev/null && echo "/usr is writable"
                 [ "$(type -P reboot)" = /run/sandbox/fakes/reboot ] && reboot -f' _ "$name")
    expect=("$(readlink /proc/$$/ns/pid)" "$(readlink /proc/$$/ns/mnt)" "$(readlink /proc/$$/ns/net)")
    for ns in "${expect[@]}"; do
        [[ $out != *"$ns"* ]] || fail "the sandbox shares the host's $ns"
    done
    [[ $out == *"$dir/cwd"$'\n'"emulated: -0 prog $dir/bin/prog a b c"* ]] ||
        fail "cwd or emulator wrapper wrong: $out"
    [[ $out != *"/usr is writable"* ]] || fail "/usr is writable inside"
    [ "$(cat "$dir/cwd/kept")" = inside ] || fail "the working directory is not writable inside"
    for d in /tmp /etc /usr; do
        [ ! -e "$d/$name" ] || fail "a file written to $d inside shows on the host"
    done
    [ ! -e /run/sandbox ] || fail "/run/sandbox shows on the host"
    [ "$(ls -A /)" = "$top" ] || fail "the sandbox changed the host's /: $(ls -A /)"
    [[ $(cat "$dir/record") =~ ^[0-9]+\.[0-9]{9}\ [0-9]+\ reboot\ reboot\ -f$ ]] ||
        fail "--record file: $(cat "$dir/record")"

    status=0 && "$sbx" -- sh -c 'exit 7' || status=$?
    [ "$status" = 7 ] || fail "command status 7 came out as $status"
    status=0 && "$sbx" --real reboot -- true 2>/dev/null || status=$?
    [ "$status" = 125 ] || fail "--real reboot was not refused ($status)"
    # shellcheck disable=SC2016 # expanded inside
    out=$("$sbx" --real dnsmasq -- sh -c 'p=$(command -v dnsmasq) || exit 0; [ "$p" -ef '$fake' ] || echo real')
    [ -z "$(type -P dnsmasq)" ] || [ "$out" = real ] || fail "--real dnsmasq still runs the fake"

    # A normal user gets the same sandbox in a user namespace: as root, prove it
    # with the unprivileged user nobody, where nobody can read this checkout.
    if [ "$(id -u)" = 0 ] && setpriv --reuid=65534 --regid=65534 --clear-groups test -r "$here/lib.sh"; then
        out=$(cd / && setpriv --reuid=65534 --regid=65534 --clear-groups "$sbx" -- "$here/sandbox_test.sh" 2>&1) ||
            fail "the sandbox's own test fails for a normal user: $out"
        echo "$out" | tail -1 | sed 's/$/ (as nobody, in a user namespace)/'
    fi
    echo "sandbox (from host): all checks passed"
}

if [ "${1:-}" = --from-host ]; then
    from_host
    exit 0
fi

# shellcheck disable=SC1091 # lib.sh lies beside this script
. "$here/lib.sh"
names=(aplay reboot halt poweroff shutdown systemctl killall ifconfig hostapd dnsmasq pcmdrone)

# Before the first call: every name and every real path must be the fake.
for n in "${names[@]}"; do
    expect_eq "$n on PATH" "/run/sandbox/fakes/$n" "$(type -P "$n")"
    [ "$(readlink -f "$(type -P "$n")")" -ef $fake ] || fail "$n is not the fake"
    for d in /usr/local/sbin /usr/local/bin /usr/sbin /usr/bin /sbin /bin; do
        [ ! -e "$d/$n" ] || [ "$d/$n" -ef $fake ] || fail "$d/$n is not the fake"
    done
done

# Namespaces: our own PID 1, only a loopback interface; our own root, in which
# the machine's directories are read-only.
expect_eq "PID 1" sandbox-helper "$(cat /proc/1/comm)"
expect_eq "test's own PID" 2 "$$"
expect_eq "interfaces" lo "$(ip -br link | awk '{ print $1 }')"
[[ $(ip link show lo) == *['<,']UP[',>']* ]] || fail "lo is not up"
expect_eq "file system of /" tmpfs "$(stat -f -c %T /)"
mounted() { findmnt -no OPTIONS --target "$1" | cut -d, -f1; }
for d in /usr "$(dirname "$SANDBOX_ROOT")"; do
    [[ $d == / || $d == /tmp* ]] || expect_eq "mount of $d" ro "$(mounted "$d")"
done
expect_eq "mount of the build tree" rw "$(mounted "$SANDBOX_ROOT/build")"

# Masked directories are fresh tmpfs holding only what the sandbox made, and
# the way to bind-mounted paths it kept (the repository may live under /tmp).
shopt -s nullglob dotglob
expect_only() {
    local dir=$1 e p
    shift
    for p in "$dir"/*; do
        e=${p##*/}
        [[ " $* " == *" $e "* ]] && continue
        awk -v p="$dir/$e" '$5 == p || index($5, p "/") == 1 { found = 1 } END { exit !found }' \
            /proc/self/mountinfo || fail "$dir/$e should not be there"
    done
}
expect_eq "file system of /etc" overlay "$(stat -f -c %T /etc | sed s/fs$//)"
for d in /run /tmp /var /boot /sys /app; do
    expect_eq "file system of $d" tmpfs "$(stat -f -c %T "$d")"
done
expect_only /run sandbox mount
expect_only /tmp
expect_only /var run lib log tmp
expect_only /boot
expect_only /sys
expect_only /app etc
expect_eq "/app/etc" "" "$(ls -A /app/etc)"
echo inside >/tmp/marker

# The dangerous names, by name and by absolute path, only leave a record.
start=$(date +%s)
calls=("reboot" "/sbin/reboot -f" "/usr/sbin/reboot now" "systemctl reboot"
    "/bin/systemctl poweroff -i" "halt" "poweroff" "shutdown -r now")
expected="" called=""
for call in "${calls[@]}"; do
    program=${call%% *}
    # An absolute path exists inside only where the machine has the real one.
    [[ $program == /* && ! -e $program ]] && continue
    $call # split into words on purpose
    expected+="$call"$'\n' called+="${program##*/} "
done
bash -c 'exec -a aplay pcmdrone -f cd /dev/zero'
expect_eq "recorded calls" "${expected}aplay -f cd /dev/zero" "$(recorded)"
expect_eq "names" "${called}pcmdrone" "$(recorded_full | cut -d' ' -f3 | xargs)"
while read -r stamp pid _; do
    [[ $stamp =~ ^[0-9]+\.[0-9]{9}$ && $pid =~ ^[0-9]+$ ]] || fail "bad record line: $stamp $pid"
    (( ${stamp%.*} >= start && ${stamp%.*} <= $(date +%s) )) || fail "time stamp $stamp is off"
done <"$SANDBOX_RECORD"

# Exit status and a player that keeps running, chosen through the environment.
status=0 && SANDBOX_FAKE_STATUS_killall=1 killall -w dnsmasq || status=$?
expect_eq "killall status" 1 "$status"
SANDBOX_FAKE_SLEEP_pcmdrone=30 pcmdrone &
player=$!
sleep 0.2
kill -0 "$player" || fail "the sleeping fake did not keep running"
kill "$player"
status=0 && wait "$player" || status=$?
expect_eq "stopped player" 143 "$status"

# Parallel calls append whole lines.
: >"$SANDBOX_RECORD"
long=$(printf 'x%.0s' {1..3000})
for i in {1..20}; do aplay "$i" "$long" & done
wait
expect_eq "parallel lines" 20 "$(grep -c " aplay aplay [0-9]* $long\$" "$SANDBOX_RECORD")"

# Orphans (as left by daemon()) are reaped by PID 1, which notes their status.
orphan=$(sh -c 'sh -c "sleep 0.2; exit 3" </dev/null >/dev/null 2>&1 & echo $!')
expect_eq "orphan's status" 3 "$(reaped_status "$orphan" 5)"
orphan=$(sh -c 'sleep 30 </dev/null >/dev/null 2>&1 & echo $!')
kill -TERM "$orphan"
expect_eq "killed orphan's status" 143 "$(reaped_status "$orphan" 5)"

# eth0 with a chosen hardware address.
make_eth0 0a:1b:2c:3d:4e:ff
expect_eq "eth0 address" 0a:1b:2c:3d:4e:ff "$(ip -br link show eth0 | awk '{ print $3 }')"
[[ $(ip link show eth0) == *['<,']UP[',>']* ]] || fail "eth0 is not up"

# The fail-closed checks refuse what a broken sandbox would look like.
refused() { # refused REASON COMMAND...: COMMAND must exit 125 saying REASON
    local out status=0
    out=$("${@:2}" 2>&1) || status=$?
    expect_eq "status when $1" 125 "$status"
    [[ $out == *"refusing to run: "*"$1"* ]] || fail "no refusal for '$1': $out"
}
other=("pid:[1]" "mnt:[1]" "net:[1]" "user:[1]")
"$sbx" --check "${other[@]}" 1 >/dev/null || fail "the checks refuse this sandbox"
refused "pid namespace is the host's" "$sbx" --check "$(readlink /proc/self/ns/pid)" "${other[@]:1}" 1
refused "mnt namespace is the host's" "$sbx" --check "${other[0]}" "$(readlink /proc/self/ns/mnt)" "${other[@]:2}" 1
refused "net namespace is the host's" "$sbx" --check "${other[@]:0:2}" "$(readlink /proc/self/ns/net)" "${other[3]}" 1
refused "/run is the host's" "$sbx" --check "${other[@]}" "$(stat -c %d /run)"
if [ "${SANDBOX_USERNS:-}" = 1 ]; then
    refused "user namespace is the host's" "$sbx" --check "${other[@]:0:3}" "$(readlink /proc/self/ns/user)" 1
fi
# A real binary found on PATH before the fake (dnsmasq is always installed for
# the tests; reboot and systemctl only where the machine has systemd).
refused "runs '/usr/sbin/" env PATH="/usr/sbin:$PATH" "$sbx" --check "${other[@]}" 1
# A real binary left uncovered (here: /bin/true in a throw-away namespace).
for real in /usr/bin/systemctl /usr/sbin/dnsmasq; do
    [ -e "$real" ] || continue
    refused "is not the fake" unshare --mount --propagation private sh -c \
        'mount --bind /bin/true "$0" && shift && exec "$@"' "$real" _ "$sbx" --check "${other[@]}" 1
done

echo "sandbox: all checks passed"
