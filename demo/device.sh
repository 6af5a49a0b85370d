# The virtual device: its boot, its reset button and a phone nearby. Sourced
# by the demo's story and by the interactive device shell, inside the sandbox.
# shellcheck shell=bash disable=SC2034 # the story and the shell use the rest
demo=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)
# shellcheck source=tests/system/lib.sh
. "$demo/../tests/system/lib.sh"

BUTTON=/sys/bus/i2c/devices/2-0030/factory_reset
DEFAULTS=(/app/etc/corehub.conf /tmp/netconf.conf /tmp/wpa_supplicant.conf /app/etc/wifilist.conf)
ETHERNET_ADDRESS=8e:56:76:1a:be:07
export DEMO_EVENTS=/run/demo/events

if [ -t 1 ]; then
    BOLD=$'\e[1m' GREEN=$'\e[32m' RED=$'\e[31m' PLAIN=$'\e[0m'
else
    BOLD="" GREEN="" RED="" PLAIN=""
fi

# Failures go to standard output too, so that they stand in place in a log.
fail() {
    printf '      %sFAIL%s %s\n' "$RED" "$PLAIN" "$*"
    exit 1
}
say() { printf '      %s\n' "$*"; }
ok() { printf '      %sok%s  %s\n' "$GREEN" "$PLAIN" "$*"; }
# Indents standard input; awk also ends a last line that has no newline.
indented() { awk -v p="      ${1:-}" '{ print p $0 }'; }

# What the stand-ins did since the last call.
new_events() {
    local seen
    seen=$(cat /run/demo/events.seen 2>/dev/null || echo 0)
    tail -n +$((seen + 1)) "$DEMO_EVENTS" | indented
    wc -l <"$DEMO_EVENTS" >/run/demo/events.seen
}

# The device as it comes out of the factory and powers up.
boot() {
    mkdir -p /run/demo "$(dirname "$BUTTON")"
    : >"$DEMO_EVENTS"
    echo 0 >"$BUTTON"
    cp "$demo/../tests/system/files/hw.conf" /boot/hw.conf
    make_eth0 "$ETHERNET_ADDRESS"
    # The Wi-Fi interface is one end of a virtual cable whose other end is a
    # phone's, in a network namespace of its own.
    ip netns add phone
    ip link add wlan0 type veth peer name wlan0 netns phone || fail "cannot create wlan0"
    export PATH=$demo/standins:$SANDBOX_ROOT/build/demo:$PATH
    holdSentry || fail "holdSentry returned $?"
    wait_for 5 grep -qsx "holdSentry V1.01" /tmp/applog
    SENTRY=$(daemon_pid holdSentry) || fail "holdSentry is not running in the background"
}

# lease KEY: the phone's lease, as its DHCP client script noted it.
lease() { sed -n "s/^$1=//p" /run/demo/phone-lease; }

# The phone asks for an address on its end of the cable, with BusyBox's
# DHCP client.
phone_joins() {
    rm -f /run/demo/phone-lease
    nsenter --net=/run/netns/phone \
        timeout 20 udhcpc -f -q -n -t 5 -T 2 -i wlan0 -s "$demo/phone-dhcp" 2>&1 | indented "phone: "
    [ -s /run/demo/phone-lease ] || return 1
    say "phone: address $(lease ip), netmask $(lease subnet), router $(lease router), DNS server $(lease dns)"
}

press() {
    echo 1 >"$BUTTON"
    date +%s.%N >/run/demo/pressed
}

reboots() { awk '$3 == "reboot"' "$SANDBOX_RECORD" | wc -l; }
rebooted_since() { [ "$(reboots)" -gt "$1" ]; }

# Releases the button and shows what the device does about it.
release() {
    local before held
    before=$(reboots)
    echo 0 >"$BUTTON"
    held=$(awk -v t="$(date +%s.%N)" '{ printf "%.1f", t - $1 }' /run/demo/pressed 2>/dev/null || echo 0)
    say "button released after $held s"
    sleep 0.3
    if [ -n "$(daemon_pid holdSentry)" ] && awk -v h="$held" 'BEGIN { exit !(h >= 5) }'; then
        say "(a hold of 5 s or more: prompt, 2 s pause, factory defaults, reboot)"
        (wait_for 8 rebooted_since "$before") >/dev/null 2>&1 || say "no reboot followed"
    elif [ -n "$(daemon_pid holdSentry)" ]; then
        say "(shorter than 5 s: nothing happens)"
    fi
    new_events
    if rebooted_since "$before"; then
        say "reboot: called; the sandbox's fake recorded it (a real device restarts now)"
    fi
}

# hold SECONDS: press, count the seconds aloud, release.
hold() {
    local seconds=${1:?usage: hold SECONDS} i
    press
    printf '      button held:'
    for ((i = 1; i <= seconds; i++)); do
        sleep 1
        printf ' %d' "$i"
    done
    printf ' s\n'
    release
}

show-defaults() {
    local file
    for file in "${DEFAULTS[@]}"; do
        say "--- $file"
        if [ -f "$file" ]; then indented "| " <"$file"; else say "(not written)"; fi
    done
}
