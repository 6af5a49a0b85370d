#!/bin/bash
# Checks logreplay on small logs laid out byte by byte as the kernel writes them:
# listing, replay to an entry and to a mark, and refusal of bad logs, which must
# leave the copy untouched.
#   logreplay_test.sh LOGREPLAY    (its scratch folder goes beside LOGREPLAY)
set -u
bin=$(realpath "$1")
work=$(mktemp -d "$(dirname "$bin")/logreplay-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

le() { # VALUE BYTES: the value little-endian
    local v=$1 i
    for ((i = 0; i < $2; i++)); do
        printf '%b' "\\x$(printf %02x $((v & 255)))"
        v=$((v >> 8))
    done
}
ss=512 # the recorded device's sector size
super() { # COUNT [MAGIC [VERSION [SECTOR_SIZE]]]; the struct's padding is not zeroed
    { le "${2:-0x6a736677736872}" 8; le "${3:-1}" 8; le "$1" 8; le "${4:-$ss}" 4; le -1 4; } >log
    truncate -s "${4:-$ss}" log
}
fill() { head -c $(($2 * ss)) /dev/zero | tr '\0' "${1/./\\0}"; } # CHAR (. is zero) SECTORS
entry() { # SECTOR SECTORS FLAGS [FILL_CHAR | MARK_TEXT]: appends one entry
    local at text=""
    at=$(stat -c %s log)
    [ $(($3 & 8)) -ne 0 ] && text=$4
    { le "$1" 8; le "$2" 8; le "$3" 8; le ${#text} 8; printf %s "$text"; } >>log
    truncate -s $((at + ss)) log
    [ $(($3 & 12)) -eq 0 ] && [ "$2" -gt 0 ] && fill "$4" "$2" >>log
    return 0
}
copy() { for c in "$@"; do fill "$c" 1; done; } # one sector of each CHAR

# A write, a flush, a mark, a FUA metadata write, a discard and the end mark,
# on a device of 4096-byte sectors and then of 512-byte ones (kept for below).
listing='0 - 1 2
1 FLUSH 0 0
2 MARK 0 0 one
3 FUA,METADATA 2 1
4 DISCARD 1 1
5 MARK 0 0 dm-log-writes-end'
for ss in 4096 512; do
    super 6
    entry 1 2 0 A
    entry 0 0 1
    entry 0 0 8 one
    entry 2 1 18 B
    entry 1 1 4
    entry 0 0 8 dm-log-writes-end
    cp log good.log
    [ "$("$bin" list log)" = "$listing" ] || fail "$ss list: $("$bin" list log)"
    [ "$("$bin" points log)" = "$(echo "$listing" | sed '/ [-D]/d')" ] || fail "$ss points"
    while read -r target expected; do
        copy z z z z >dev
        # shellcheck disable=SC2086 # m:NAME becomes -m NAME
        "$bin" replay log dev ${target/#m:/-m } || fail "$ss replay $target: status $?"
        # shellcheck disable=SC2086 # one character a sector
        copy $expected | cmp -s - dev || fail "$ss replay $target: wrong contents"
    done <<'EOF'
0 z A A z
m:one z A A z
3 z A B z
5 z . B z
EOF
done

# Each bad case: how to make it, the replay target, the message expected.
while IFS='|' read -r make target message; do
    cp good.log log
    eval "$make"
    copy z z z z >dev && cp dev before
    # shellcheck disable=SC2086
    out=$("$bin" replay log dev ${target/#m:/-m } 2>&1)
    status=$?
    if [ "$status" != 1 ] || [[ $out != *"$message"* ]]; then
        fail "$make: status $status: $out"
    fi
    cmp -s dev before || fail "$make: copy changed"
done <<'EOF'
rm log|0|cannot read the log's super
truncate -s 20 log|0|too short
super 1 0x1234|0|bad magic
super 1 0x6a736677736872 2|0|unknown version
super 1 0x6a736677736872 1 1000|0|unsupported sector size
super 2; entry 1 1 0 A|1|entry 1: log truncated
super 1; entry 1 2 0 A; truncate -s -1 log|0|entry 0: log truncated
super 2; entry 0 1 0 A; entry 3 2 0 A|1|entry 1: writes past the end
super 1; entry 0x7fffffffffffffff 2 0 A|0|writes past the end
super 1; entry 0 0 64|0|unknown flags
super 1; entry 0 0 8 "$(printf %480s x)"|0|mark text too long
true|6|entry 6: no such entry
true|m:two|no mark 'two'
true|1x|bad entry number
EOF
"$bin" list 2>/dev/null
[ $? = 2 ] || fail "usage: status not 2"

[ "$failures" = 0 ] && echo "logreplay: all checks passed" || echo "logreplay: $failures failed"
[ "$failures" = 0 ]
