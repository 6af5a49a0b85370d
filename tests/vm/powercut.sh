#!/bin/bash
# A power cut at any moment of a factory reset on the ARM virtual device. The
# guest's /app is ext4 over dm-log-writes, which logs the writes in the order
# they became durable; logreplay rebuilds the disk as a power cut would leave
# it after each flush or FUA write and at each mark. Every such state must be
# clean for e2fsck, each /app file whole (old or new) with at most one
# temporary, and at the mark just before the reboot both files new. Two control
# writers, each leaving out one fsync of the replacement, must be caught.
#   tests/vm/powercut.sh PACKAGE_DIR LOGREPLAY
# Exit status 77: the machine cannot run the virtual device (reason printed).
set -euo pipefail
packages=${1:?usage: powercut.sh PACKAGE_DIR LOGREPLAY}
logreplay=${2:?usage: powercut.sh PACKAGE_DIR LOGREPLAY}
# shellcheck source=tests/vm/device.sh
. "$(dirname "$0")/device.sh"
trap vm_stop EXIT
started=$SECONDS
files=(corehub.conf wifilist.conf)
# holdSentry's reset, and the controls named after the step they leave out.
writers=(reset nofsync nodirsync)

device powercut
mkdir -p "$VM_SHARE/old" "$VM_SHARE/new"
for file in "${files[@]}"; do
    # Longer than the new content, so that a torn file matches neither.
    printf "old $file %s\n" {1..40} >"$VM_SHARE/old/$file"
    cp "$expected/$file" "$VM_SHARE/new/"
done
# The file system is made here: each log then holds only the guest's writes.
# Inode tables and journal written now, so no background zeroing in the guest.
truncate -s 32M "$VM_RUN/base.raw"
mkfs.ext4 -q -F -b 4096 -E lazy_itable_init=0,lazy_journal_init=0,nodiscard "$VM_RUN/base.raw"
for writer in "${writers[@]}"; do
    cp --sparse=always "$VM_RUN/base.raw" "$VM_RUN/$writer.raw"
    truncate -s 64M "$VM_RUN/$writer.log"
    VM_DISKS+=("$VM_RUN/$writer.raw" "$VM_RUN/$writer.log")
done

# The guest's side, sourced by the commands below and by the reboot wrapper.
cat >"$VM_SHARE/powercut.sh" <<'EOF'
disk() { # FILE_NAME: the guest's device for the host's disk file (its serial)
    for d in /sys/block/vd*; do
        [ "$(cat "$d/serial")" != "$1" ] || { echo "/dev/${d##*/}"; return 0; }
    done
    return 1
}
# WRITER's file system at DIR, over a log of its writes: noauto_da_alloc so
# that ext4 does not flush a renamed file's data on the writer's behalf, a long
# commit interval so that only the writer's own fsyncs commit the journal.
start() { # WRITER DIR
    data=$(disk "$1.raw") && log=$(disk "$1.log") &&
        dmsetup create "$1" --table "0 $(cat "/sys/block/${data#/dev/}/size") log-writes $data $log" &&
        dmsetup mknodes "$1" && # no udev here to make /dev/mapper/NAME
        mkdir -p "$2" && mount -o noauto_da_alloc,commit=600 "/dev/mapper/$1" "$2" &&
        mkdir -p "$2/etc" && cp /mnt/host/old/* "$2/etc/" && sync && dmsetup message "$1" 0 mark old
}
# The mark before the reboot, then the log ended cleanly: the header counts
# every entry only once the target is removed.
stop() { # WRITER DIR
    dmsetup message "$1" 0 mark reboot
    dmsetup status "$1" >"/mnt/host/out/$1.status"
    umount "$2" && dmsetup remove "$1"
}
# The reset's replacement steps (temporary, write, fsync, rename, directory
# fsync), less SKIP: coreutils' sync FILE is fsync, mv on one file system rename.
replace() { # SKIP FILE DIR
    tmp=$3/.$2.new
    rm -f "$tmp" && cat "/mnt/host/new/$2" >"$tmp" || return
    [ "$1" = fsync ] || sync "$tmp" || return
    mv "$tmp" "$3/$2" || return
    [ "$1" = dirsync ] || sync "$3"
}
EOF
# Before init, on this run's overlay only: holdSentry's reboot ends the log first.
cat >"$VM_SHARE/boot.d/reboot.sh" <<'EOF'
rm -f /usr/sbin/reboot
printf '#!/bin/sh\n. /mnt/host/powercut.sh\nstop reset /app\nexec /bin/busybox reboot "$@"\n' >/usr/sbin/reboot
chmod 755 /usr/sbin/reboot
EOF

check_boot busybox
# shellcheck disable=SC2016 # the guest's shell expands it
vm_run '. /mnt/host/powercut.sh
    for control in nofsync nodirsync; do
        start $control /mnt/$control && replace "${control#no}" corehub.conf /mnt/$control/etc &&
            replace "${control#no}" wifilist.conf /mnt/$control/etc && stop $control /mnt/$control || exit 1
    done
    start reset /app' || fail "the controls or the reset's /app could not run"
printf 1 >"$VM_SHARE/button"
sleep 5.4 # the hold itself
printf 0 >"$VM_SHARE/button"
vm_wait_exit 60 || fail "qemu ended with status $? after the reboot"
vm_console | grep -aq 'reboot: Restarting system' || fail "the guest did not reboot"
say "guest: the controls replaced both files, holdSentry reset and rebooted ($((SECONDS - started)) s)"

# One word per /app file as the power cut left it in the copy's dump.
file_state() { # FILE
    local f=$VM_RUN/dump/etc/$1
    if [ ! -e "$f" ]; then
        echo missing
    elif cmp -s "$f" "$VM_SHARE/old/$1"; then
        echo old
    elif cmp -s "$f" "$VM_SHARE/new/$1"; then
        echo new
    elif [ ! -s "$f" ]; then
        echo empty
    else
        echo "torn:$(stat -c %s "$f")"
    fi
}

# e2fsck on the copy: the first pass replays the journal, as a mount would, and
# may correct only the superblock's free counts (ext4 keeps the exact counts in
# the group descriptors); the second pass must find nothing.
check_fsck() { # WHAT
    local log=$VM_RUN/fsck.log
    e2fsck -fy "$VM_RUN/copy.raw" >"$log" 2>&1 || [ $? = 1 ] || fail "$1: e2fsck -fy: $(cat "$log")"
    ! grep -vE '^(e2fsck |Pass [1-5]|.*: recovering journal$|Free (blocks|inodes) count wrong \(|Fix\? yes$|$|.*: \*+ FILE SYSTEM WAS MODIFIED|.*: [0-9]+/[0-9]+ files )' "$log" >&2 ||
        fail "$1: e2fsck -fy repaired more than the free counts"
    e2fsck -fn "$VM_RUN/copy.raw" >"$log" 2>&1 || fail "$1: e2fsck -fn: $(cat "$log")"
}

# Replays WRITER's log onto a copy of the base disk up to each point. Writes the
# table WRITER.points (entry, flags, mark, the files' states, temporaries) and
# sets torn (how many points leave a file not whole, or more than one temporary),
# first_torn and at_reboot (the files at the mark before the reboot).
check_log() { # WRITER
    local log=$VM_RUN/$1.log copy=$VM_RUN/copy.raw n flags mark states temps old=0 points=0
    ! grep -q logging_disabled "$VM_SHARE/out/$1.status" || fail "$1: the log ran out of space"
    "$logreplay" points "$log" >"$VM_RUN/$1.all" || fail "$1: logreplay cannot read the log"
    [ "$(tail -n 1 "$VM_RUN/$1.all" | cut -d ' ' -f 5)" = dm-log-writes-end ] || fail "$1: the log was not ended"
    torn=0 first_torn="" at_reboot=""
    echo "entry flags mark ${files[*]} temporaries" >"$VM_RUN/$1.points"
    while read -r n flags _ _ mark; do
        points=$((points + 1))
        cp --sparse=always "$VM_RUN/base.raw" "$copy"
        "$logreplay" replay "$log" "$copy" "$n" || fail "$1: cannot replay to entry $n"
        check_fsck "$1: entry $n"
        # Until the old files are synced and marked there is nothing to compare.
        [ "$mark" != old ] || old=1
        [ "$old" = 1 ] || continue
        rm -rf "$VM_RUN/dump" && mkdir -p "$VM_RUN/dump"
        debugfs -R "rdump /etc $VM_RUN/dump" "$copy" 2>/dev/null
        mkdir -p "$VM_RUN/dump/etc"
        states=$(for file in "${files[@]}"; do file_state "$file"; done | paste -sd ' ')
        temps=$(find "$VM_RUN/dump/etc" -mindepth 1 ! -name corehub.conf ! -name wifilist.conf | wc -l)
        echo "$n $flags ${mark:--} $states $temps"
        if ! [[ "$states " =~ ^((old|new)\ )+$ && $temps -le 1 ]]; then
            torn=$((torn + 1))
            first_torn=${first_torn:-"entry $n ($flags): ${files[*]} $states, $temps temporaries"}
        fi
        [ "$mark" != reboot ] || at_reboot=$states
    done <"$VM_RUN/$1.all" >>"$VM_RUN/$1.points"
    [ -n "$at_reboot" ] || fail "$1: no mark 'reboot' in the log"
    # Replayed to its end, the log is the data disk as the guest left it.
    cp --sparse=always "$VM_RUN/base.raw" "$copy"
    "$logreplay" replay "$log" "$copy" "$(tail -n 1 "$VM_RUN/$1.all" | cut -d ' ' -f 1)" || fail "$1: cannot replay the whole log"
    cmp -s "$copy" "$VM_RUN/$1.raw" || fail "$1: the whole log replayed is not the data disk"
    say "$1: $points points ($(grep -c ' MARK ' "$VM_RUN/$1.all") of them marks), e2fsck clean at each; files compared at the $(($(wc -l <"$VM_RUN/$1.points") - 1)) from the mark 'old' on (table: $VM_RUN/$1.points)"
}

check_log reset
[ "$torn" = 0 ] || fail "reset: $torn points leave a file that is not whole, first $first_torn"
expect_eq "reset: the files at the mark before the reboot" "new new" "$at_reboot"
say "reset: every file whole (old or new), at most one temporary; both new at the mark before the reboot"
check_log nofsync
[ "$torn" != 0 ] || fail "nofsync: the control without the file's fsync was not caught"
say "nofsync: caught at $torn points, first $first_torn"
check_log nodirsync
[ "$at_reboot" != "new new" ] || fail "nodirsync: the control without the directory's fsync was not caught"
say "nodirsync: caught at the mark before the reboot: ${files[*]} $at_reboot; $torn points leave a file not whole"
rm -rf "$VM_RUN/copy.raw" "$VM_RUN/dump" "$VM_RUN/fsck.log"
echo "PASS: powercut ($((SECONDS - started)) s)"
