# The virtual device's driver: owns qemu. Source it, then
#   vm_new NAME            a fresh run folder build/vm/NAME: the share (the only
#                          host folder the guest sees) and a qcow2 overlay over
#                          the cached base image
#   vm_boot INIT           boots it (INIT: busybox or systemd), returns once the
#                          guest's agent is up
#   vm_run SCRIPT          runs a shell script in the guest as root; prints its
#                          output, returns its status
#   vm_wait_exit SECONDS   waits until qemu ends (a guest reboot ends it)
#   vm_stop                ends qemu
# Settings before vm_boot: VM_MAC (eth0's address), VM_DISKS (extra raw disks,
# in order), VM_INTERACTIVE=1 (the console on this terminal, qemu in front).
# The scenario puts files for the guest into $VM_SHARE (mounted at /mnt/host):
# debs/*.deb are installed on the overlay's first boot, hw.conf becomes
# /boot/hw.conf, button is the reset button's attribute, boot.d/*.sh run before
# init on every boot and shutdown.sh when BusyBox init stops the machine.
# shellcheck shell=bash

# The image tools live in sbin, which a normal user's search path may lack.
PATH=$PATH:/usr/local/sbin:/usr/sbin:/sbin
VM_HOME=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)
VM_ROOT=${VM_HOME%/vm}
VM_MAC=${VM_MAC:-52:54:00:12:34:56}
VM_DISKS=()
VM_PID=""
# Everything qemu does is bounded: one boot lives at most this long.
VM_LIFETIME=${VM_LIFETIME:-900}

vm_cache() { echo "${XDG_CACHE_HOME:-$HOME/.cache}/velvora-vm"; }

# Prints why this machine cannot run the virtual device, or fails when it can.
vm_unusable_reason() {
    local tool
    for tool in qemu-system-arm qemu-img mmdebstrap fakeroot mkfs.ext4 cpio dpkg-deb timeout flock; do
        command -v "$tool" >/dev/null || { echo "$tool is missing (as root: scripts/setup vm)"; return 0; }
    done
    return 1
}

vm_log() { echo "vm: $*" >&2; }

# qemu under timeout: the ARM virt board with Debian's armmp-lpae kernel. The
# host is no ARM machine, so no KVM: TCG, one host thread per virtual CPU.
# No default devices: no user-mode network or other way out. It replaces the
# calling shell, so that the caller's $! is timeout, which passes a SIGTERM on
# to qemu: run it as `vm_qemu ... &` or in a subshell.
vm_qemu() { # IMAGE_DIR QEMU_ARGS...
    local image=$1
    shift
    # An interactive console must stay in the terminal's foreground group.
    exec timeout ${VM_INTERACTIVE:+--foreground} --kill-after=5 "$VM_LIFETIME" qemu-system-arm -M virt,highmem=off -cpu cortex-a15 -smp 2 -m 1024 \
        -accel tcg,thread=multi -nodefaults -display none -no-reboot \
        -kernel "$image/vmlinuz" -initrd "$image/initrd.img" "$@"
}

vm_new() { # NAME
    VM_IMAGE=$("$VM_HOME/build-image") || return
    VM_RUN=$VM_ROOT/build/vm/$1
    VM_SHARE=$VM_RUN/share
    VM_BOOTS=0 VM_JOBS=0
    rm -rf "$VM_RUN" &&
        mkdir -p "$VM_SHARE/cmd" "$VM_SHARE/debs" "$VM_SHARE/boot.d" "$VM_SHARE/out" &&
        qemu-img create -q -f qcow2 -b "$VM_IMAGE/base.img" -F raw "$VM_RUN/overlay.qcow2"
}

vm_boot() { # INIT
    local disk i=0 tries
    VM_BOOTS=$((VM_BOOTS + 1))
    VM_CONSOLE=$VM_RUN/console-$VM_BOOTS.log
    rm -f "$VM_SHARE/ready"
    local -a args=(-drive "if=none,id=root,file=$VM_RUN/overlay.qcow2,format=qcow2"
        -device "virtio-blk-device,drive=root"
        -netdev "hubport,id=eth0,hubid=0" -device "virtio-net-device,netdev=eth0,mac=$VM_MAC"
        -fsdev "local,id=share,path=$VM_SHARE,security_model=none"
        -device "virtio-9p-device,fsdev=share,mount_tag=host"
        -append "console=ttyAMA0 vm.init=$1 panic=-1 net.ifnames=0 loglevel=4")
    for disk in "${VM_DISKS[@]}"; do
        i=$((i + 1))
        # The disk's serial is its file name: the guest finds it by that
        # (/sys/block/vdX/serial), whatever number the board gives it.
        args+=(-drive "if=none,id=disk$i,file=$disk,format=raw"
            -device "virtio-blk-device,drive=disk$i,serial=${disk##*/}")
    done
    if [ "${VM_INTERACTIVE:-}" = 1 ]; then
        (vm_qemu "$VM_IMAGE" "${args[@]}" -serial mon:stdio)
        return
    fi
    vm_qemu "$VM_IMAGE" "${args[@]}" -serial "file:$VM_CONSOLE" 2>>"$VM_RUN/qemu.log" &
    VM_PID=$!
    tries=$((${VM_BOOT_TIMEOUT:-240} * 10))
    until [ -s "$VM_SHARE/ready" ]; do
        kill -0 "$VM_PID" 2>/dev/null || vm_fail "qemu ended during boot $VM_BOOTS"
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || vm_fail "boot $VM_BOOTS: the guest's agent did not start"
        sleep 0.1
    done
}

vm_run() { # SCRIPT [TIMEOUT_S]
    local job tries rc
    VM_JOBS=$((VM_JOBS + 1))
    # Unique in subshells too ($(vm_run ...), pipelines), whose count is lost.
    job=$VM_SHARE/cmd/$VM_BOOTS.$BASHPID.$VM_JOBS
    printf '%s\n' "$1" >"$job.tmp"
    mv "$job.tmp" "$job.sh"
    tries=$((${2:-120} * 20))
    until [ -e "$job.rc" ]; do
        kill -0 "$VM_PID" 2>/dev/null || { cat "$job.out" 2>/dev/null; vm_fail "qemu ended while running: $1"; }
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || { cat "$job.out"; vm_fail "timed out in the guest: $1"; }
        sleep 0.05
    done
    cat "$job.out"
    rc=$(cat "$job.rc")
    return "$rc"
}

# vm_wait_exit SECONDS: qemu's status once it ends (0 after a guest reboot).
vm_wait_exit() {
    local tries=$(($1 * 20)) rc=0
    while kill -0 "$VM_PID" 2>/dev/null; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || vm_fail "qemu still runs after $1 s"
        sleep 0.05
    done
    wait "$VM_PID" || rc=$?
    VM_PID=""
    return "$rc"
}

# The console log of the current boot, without the serial line's carriage
# returns and systemd's colours.
vm_console() { tr -d '\r' <"$VM_CONSOLE" | sed 's/\x1b\[[0-9;]*m//g'; }

# vm_wait_console REGEX SECONDS: until the console shows a matching line.
vm_wait_console() {
    local tries=$(($2 * 10))
    until vm_console | grep -aEq -- "$1"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || vm_fail "the console did not show /$1/ within $2 s"
        sleep 0.1
    done
}

vm_stop() {
    [ -n "$VM_PID" ] || return 0
    kill "$VM_PID" 2>/dev/null
    wait "$VM_PID" 2>/dev/null
    VM_PID=""
}

# Keeps what explains a failure under the run folder: the guest's /tmp, /app
# and /var/log (when it still answers), the console log and the overlay.
vm_fail() {
    echo "FAIL: $*" >&2
    if [ -n "$VM_PID" ] && kill -0 "$VM_PID" 2>/dev/null && [ -z "${VM_FAILING:-}" ]; then
        VM_FAILING=1 vm_run 'mkdir -p /mnt/host/guest && cp -a /tmp /app /var/log /mnt/host/guest/' 20 >/dev/null 2>&1
    fi
    vm_stop
    echo "kept in $VM_RUN: console-*.log, qemu.log, the overlay, share/guest (the guest's files)" >&2
    tail -n 20 "${VM_CONSOLE:-/dev/null}" >&2
    exit 1
}
