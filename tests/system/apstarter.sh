#!/bin/bash
# apStarter in the sandbox: the two files byte for byte, the commands in their
# order, and every failure that must leave the running services alone.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
expected=$here/expected

launchSequence='ifconfig eth0 up
killall -w dnsmasq
killall -w hostapd
killall -w dhcpcd
killall -w wpa_cli
killall -w wpa_supplicant
ifconfig wlan0 up
ifconfig wlan0 192.168.188.1
hostapd -B /var/hostapd.conf
dnsmasq -C /var/dnsmask.conf'

# Runs apStarter with a clean record and checks its status and commands.
runAp() { # STATUS COMMANDS [VAR=VALUE...]
    local status=$1 want=$2
    shift 2
    : >"$SANDBOX_RECORD"
    env "$@" apStarter
    expect_eq "exit status" "$status" "$?"
    expect_eq "commands" "$want" "$(recorded)"
}

# Nothing but the first "ifconfig eth0 up": no service stopped or started.
untouched='ifconfig eth0 up'

# Stale, longer content must be truncated, not partly overwritten.
head -c 4096 /dev/zero | tr '\0' x >/var/hostapd.conf
cp /var/hostapd.conf /var/dnsmask.conf

make_eth0 0a:1b:2c:3d:4e:5f
runAp 0 "$launchSequence"
expect_file_bytes /var/hostapd.conf "$expected/hostapd-0a1b2c3d4e5f.conf"
expect_file_bytes /var/dnsmask.conf "$expected/dnsmask.conf"

# A second run rewrites both files from the new address (bytes of 0x80 and up).
ip link set eth0 address 80:ff:a7:c5:01:fe
runAp 0 "$launchSequence"
expect_file_bytes /var/hostapd.conf "$expected/hostapd-80ffa7c501fe.conf"
expect_file_bytes /var/dnsmask.conf "$expected/dnsmask.conf"

# The stops only fail when nothing was running; the daemons' starts count.
runAp 0 "$launchSequence" SANDBOX_FAKE_STATUS_killall=1
runAp 1 "$launchSequence" SANDBOX_FAKE_STATUS_hostapd=1
runAp 1 "$launchSequence" SANDBOX_FAKE_STATUS_dnsmasq=1

# The access-point file written, the DHCP/DNS file impossible to create.
rm -f /var/hostapd.conf /var/dnsmask.conf
mkdir /var/dnsmask.conf
runAp 1 "$untouched"
expect_file_bytes /var/hostapd.conf "$expected/hostapd-80ffa7c501fe.conf"
rmdir /var/dnsmask.conf

# Read-only /var: nothing can be created.
rm -f /var/hostapd.conf /var/dnsmask.conf
mount -o remount,bind,ro /var || fail "cannot remount /var read-only"
runAp 1 "$untouched"
mount -o remount,bind,rw /var

# Full /var: the files open, but the bytes do not fit (root ignores modes,
# so only a full file system shows this).
mount -t tmpfs -o size=64k fullvar /var || fail "cannot mount a small /var"
dd if=/dev/zero of=/var/filler bs=4k 2>/dev/null
runAp 1 "$untouched"
umount /var

# No Ethernet interface: no address, no file, no service touched.
ip link del eth0
rm -f /var/hostapd.conf /var/dnsmask.conf
runAp 1 "$untouched"
if [ -e /var/hostapd.conf ] || [ -e /var/dnsmask.conf ]; then fail "file written without eth0"; fi

echo PASS
