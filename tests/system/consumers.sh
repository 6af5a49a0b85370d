#!/bin/bash
# The generated files as the real consumers read them: dnsmasq accepts its
# file, a phone gets a lease from dnsmasq with it unchanged, and dhcpcd knows
# every directive of the factory-reset DHCP client file. Needs the real
# dnsmasq (sandbox --real). hostapd is a service that this machine does not
# get: the virtual device runs it on its file (tests/vm, scenario ap).
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
expected=$here/expected

dnsmasq --version | head -1
dhcpcd --version | head -1

# Generate the files with apStarter; its own daemon starts go to no-op stand-ins.
stubs=/tmp/stubs
mkdir -p $stubs
printf '#!/bin/sh\nexit 0\n' >$stubs/hostapd
cp $stubs/hostapd $stubs/dnsmasq
chmod +x $stubs/*
make_eth0 0a:1b:2c:3d:4e:ff
PATH=$stubs:$PATH apStarter || fail "apStarter failed"
dmq=/var/dnsmask.conf

out=$(timeout 20 dnsmasq --test -C $dmq 2>&1)
expect_eq "dnsmasq syntax check" "dnsmasq: syntax check OK." "$out"

# dhcpcd reports unknown directives while it reads its configuration, before
# it waits for a carrier that this link never gets (its peer stays down).
dhcpcdOutput() { # FILE
    make_link wlan0 0a:1b:2c:3d:4e:01
    timeout 5 dhcpcd -f "$1" -T -d wlan0 2>&1
    ip link del wlan0
}
out=$(dhcpcdOutput "$expected/netconf.conf")
grep -q '^dhcpcd-.* starting' <<<"$out" || fail "dhcpcd did not start: $out"
! grep -i 'unknown option' <<<"$out" || fail "dhcpcd rejects a directive of netconf.conf"
{ cat "$expected/netconf.conf"; echo "option no_such_option"; } >/tmp/bad-netconf.conf
dhcpcdOutput /tmp/bad-netconf.conf | grep -q 'unknown option' ||
    fail "dhcpcd check misses an unknown option"

# End to end: the device's wlan0 and a phone in its own namespace, joined by
# a veth pair; dnsmasq runs with the generated file unchanged.
ip netns add phone
ip link add wlan0 type veth peer name phone0 netns phone
ip addr add 192.168.188.1/24 dev wlan0
ip link set wlan0 up
nsenter --net=/run/netns/phone ip link set lo up
nsenter --net=/run/netns/phone ip link set phone0 up
timeout 60 dnsmasq -C $dmq --no-daemon --dhcp-leasefile=/tmp/dnsmasq.leases >/tmp/dnsmasq.log 2>&1 &
dnsmasqPid=$!

cat >/tmp/lease-script <<'SCRIPT'
#!/bin/sh
[ "$1" = bound ] && echo "$ip $router $dns" >/tmp/lease
exit 0
SCRIPT
chmod +x /tmp/lease-script
dhcpListening() { ss -Hlnu 'sport = :67' | grep -q .; }
wait_for 10 dhcpListening
timeout 30 nsenter --net=/run/netns/phone udhcpc -f -q -n -i phone0 -s /tmp/lease-script >/tmp/udhcpc.log 2>&1 ||
    { cat /tmp/udhcpc.log /tmp/dnsmasq.log; fail "no lease"; }
kill $dnsmasqPid
read -r ip router dns </tmp/lease
echo "lease: $ip router $router dns $dns"
case $ip in
192.168.188.1[0-9][0-9]) ;;
*) fail "leased address $ip outside 192.168.188.100..199" ;;
esac
expect_eq "router" 192.168.188.1 "$router"
expect_eq "DNS server" "$(sed -n 's/^dhcp-option=6,//p' "$expected/dnsmask.conf")" "$dns"

echo PASS
