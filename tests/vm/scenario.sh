#!/bin/bash
# The device's programs on the ARM virtual device: a real kernel, real inits,
# reboot, Wi-Fi (mac80211_hwsim) and audio (snd-aloop). The reset button is the
# one simulated part: its attribute is a file fed from the host.
#   tests/vm/scenario.sh SCENARIO PACKAGE_DIR
# SCENARIO: boot-busybox, boot-systemd, reset, ap, silence, macprint.
# Exit status 77: the machine cannot run the virtual device (reason printed).
set -euo pipefail
scenario=${1:?usage: scenario.sh SCENARIO PACKAGE_DIR}
packages=${2:?usage: scenario.sh SCENARIO PACKAGE_DIR}
# shellcheck source=tests/vm/device.sh
. "$(dirname "$0")/device.sh"
trap vm_stop EXIT

case $scenario in
boot-busybox | boot-systemd)
    device "$scenario"
    check_boot "${scenario#boot-}"
    check_reboot
    ;;
reset | ap | silence | macprint)
    # A MAC of our choosing, so that macPrint cannot pass by chance.
    [ "$scenario" != macprint ] || VM_MAC=0a:1b:2c:3d:4e:5f
    device "$scenario"
    check_boot busybox
    "check_$scenario"
    ;;
*) echo "unknown scenario $scenario" >&2 && exit 2 ;;
esac
vm_stop
echo "PASS: $scenario"
