#!/usr/bin/env bash
# Runs one command on a real ALSA sequencer: inside a qemu guest (no KVM) that boots
# Debian's kernel, mounts this machine's root over virtio-9p and runs this machine's
# own programs there, in the same working directory.
#
#   tools/alsa_vm.sh [--desktop] [--limit SECONDS] [--cpu MODEL] BUILD_DIR COMMAND [ARG...]
#
# The kernel, its modules and an initramfs are prepared once in BUILD_DIR/alsa-vm.
# The guest loads snd-seq only, so the tests' peer is zu's port 0 and port 1 as on
# JACK; --desktop also loads snd-seq-dummy ("Midi Through", port 0 as on a desktop)
# and snd-virmidi (a card whose /dev/snd/midiC0D0 plays a hardware controller).
# Prints the command's output and exits with its status; 124 when the limit
# (default 600 s, boot included) ran out, 125 when the guest never ran it.
# Variables ZU_*, GTEST_*, PATH, HOME and LANG go along. --cpu replaces qemu's CPU model
# (default max,avx2=off, see below).
set -uo pipefail

# In the guest, as its first process, after the initramfs switched to the host's root.
guest() {
    local run=$1 root=$2 desktop=$3
    mount -t proc proc /proc
    mount -t sysfs sys /sys
    mount -t devtmpfs dev /dev
    mkdir -p /dev/shm /dev/pts
    mount -t tmpfs shm /dev/shm
    mount -t devpts pts /dev/pts
    mount -t tmpfs run /run
    # Sockets do not work on 9p.
    mkdir -p /tmp/.X11-unix
    mount -t tmpfs x11 /tmp/.X11-unix
    chmod 1777 /tmp/.X11-unix
    echo booted >"$run/booted"
    local mods=(snd-seq)
    [ "$desktop" = 1 ] && mods+=(snd-seq-dummy "snd-virmidi midi_devs=1")
    for m in "${mods[@]}"; do
        # shellcheck disable=SC2086 # module name and options
        modprobe -d "$root" $m >>"$run/output" 2>&1
    done
    bash "$run/job" >>"$run/output" 2>&1
    echo $? >"$run/status"
    sync
    echo o >/proc/sysrq-trigger
    sleep 60 # the power-off takes a moment; never return as PID 1
}

prepare() {
    local cache=$1 pkg ver
    [ -f "$cache/initrd.gz" ] && return 0
    rm -rf "$cache" && mkdir -p "$cache/deb" "$cache/initrd/bin" "$cache/initrd/lib" || return 1
    # Downloaded and unpacked, never installed.
    pkg=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-/ { print $2; exit }')
    [ -n "$pkg" ] || { apt-get update -qq && pkg=$(apt-cache depends linux-image-amd64 |
        awk '/Depends: linux-image-/ { print $2; exit }'); }
    (cd "$cache/deb" && apt-get download -qq -o APT::Sandbox::User=root "$pkg") || return 1
    dpkg-deb -x "$cache"/deb/*.deb "$cache/root" && rm -rf "$cache/deb" || return 1
    ver=$(ls "$cache/root/lib/modules")
    depmod -b "$cache/root" "$ver" || return 1
    cp /bin/busybox "$cache/initrd/bin/" || return 1
    modprobe -d "$cache/root" -S "$ver" --show-depends -a virtio_pci 9pnet_virtio 9p |
        awk '!seen[$2]++ { print $2 }' | while read -r ko; do
        cp "$ko" "$cache/initrd/lib/" && basename "$ko" >>"$cache/initrd/lib/order"
    done
    [ -s "$cache/initrd/lib/order" ] || return 1
    cat >"$cache/initrd/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mkdir -p /proc /root
mount -t proc proc /proc
for m in $(cat /lib/order); do insmod /lib/$m; done
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=loose hostroot /root || poweroff -f
set -- $(cat /proc/cmdline)
for a; do case $a in zu=*) args=${a#zu=} ;; esac; done
IFS=, && exec switch_root /root /bin/bash $args
EOF
    chmod +x "$cache/initrd/init"
    (cd "$cache/initrd" && find . | cpio -o -H newc --quiet | gzip >../initrd.gz.new) &&
        mv "$cache/initrd.gz.new" "$cache/initrd.gz"
}

if [ "${1:-}" = --guest ]; then
    guest "${@:2}"
    exit
fi

desktop=0 limit=600 cpu=max,avx2=off
while [ $# -gt 0 ]; do
    case $1 in
    --desktop) desktop=1 ;;
    --limit) limit=$2 && shift ;;
    --cpu) cpu=$2 && shift ;;
    -*) sed -n 6p "$0" >&2 && exit 2 ;;
    *) break ;;
    esac
    shift
done
[ $# -ge 2 ] || { sed -n 6p "$0" >&2 && exit 2; }
cache=$(realpath "$1")/alsa-vm
shift
prepare "$cache" || { echo "alsa_vm.sh: could not prepare the kernel in $cache" >&2 && exit 125; }

run=$(mktemp -d "$cache/run.XXXXXX")
qemu_pid=""
cleanup() {
    [ -n "$qemu_pid" ] && kill "$qemu_pid" 2>/dev/null && wait "$qemu_pid" 2>/dev/null
    rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

{
    printf 'cd %q || exit 125\n' "$PWD"
    while IFS='=' read -r name _; do
        case $name in ZU_* | GTEST_* | PATH | HOME | LANG)
            printf 'export %s=%q\n' "$name" "${!name}" ;;
        esac
    done < <(env)
    # An emulated X server that stalls would turn a tap into repeats.
    echo 'export ZU_XVFB_NO_REPEAT=1'
    printf 'exec'
    printf ' %q' "$@"
    echo
} >"$run/job"
: >"$run/output"

self=$(realpath "$0")
# Without AVX2: the software GL's compiled gathers crashed zu under emulated AVX2.
qemu-system-x86_64 -accel tcg,thread=multi -cpu "$cpu" -smp 2 -m 2048 \
    -kernel "$cache"/root/boot/vmlinuz-* -initrd "$cache/initrd.gz" \
    -append "console=ttyS0 quiet panic=-1 zu=$self,--guest,$run,$cache/root,$desktop" \
    -fsdev local,id=hostroot,path=/,security_model=passthrough,multidevs=remap \
    -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
    -nic none -no-reboot -display none -monitor none -serial "file:$run/console" &
qemu_pid=$!

end=$((SECONDS + limit))
while kill -0 "$qemu_pid" 2>/dev/null && [ $SECONDS -lt $end ]; do
    sleep 1
done
timed_out=0
if kill -0 "$qemu_pid" 2>/dev/null; then
    timed_out=1
    kill "$qemu_pid"
    for _ in $(seq 50); do kill -0 "$qemu_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$qemu_pid" 2>/dev/null
fi
wait "$qemu_pid" 2>/dev/null
qemu_pid=""

cat "$run/output"
if [ -f "$run/status" ]; then
    exit "$(cat "$run/status")"
elif [ ! -f "$run/booted" ]; then
    echo "alsa_vm.sh: the guest did not boot within $limit s; its console ends:" >&2
    tail -n 30 "$run/console" >&2
    exit 125
fi
[ $timed_out = 1 ] && echo "alsa_vm.sh: the command did not end within $limit s, boot included" >&2 &&
    exit 124
echo "alsa_vm.sh: the guest stopped before the command ended; its console ends:" >&2
tail -n 30 "$run/console" >&2
exit 125
