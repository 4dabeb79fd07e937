#!/usr/bin/env bash
# Installs the Debian packages zu needs: "build" to build, package and run, "test"
# adds what the tests need (X server, JACK, PipeWire, GL, XTest, GoogleTest,
# clang for fuzzing, lintian and the AppStream and desktop entry validators for the
# package, qemu and what builds its guest for the ALSA tests, gdb for the threads' stacks
# a failing test keeps; tools/alsa_vm.sh downloads Debian's kernel itself and never
# installs it).
set -euo pipefail

BUILD_PKGS=(build-essential make cmake pkg-config libsdl2-dev libsdl2-ttf-dev librtmidi-dev
            libjack-jackd2-dev libasound2-dev libpipewire-0.3-dev python3-glad libgl1-mesa-dri dpkg-dev file)
TEST_PKGS=(xvfb jackd2 pipewire pipewire-jack xdotool libx11-dev libxtst-dev x11-utils
           libgtest-dev libgmock-dev clang libclang-rt-14-dev valgrind imagemagick lintian
           appstream desktop-file-utils qemu-system-x86 busybox-static cpio alsa-utils gdb)

want=("${BUILD_PKGS[@]}")
[ "${1:-build}" = test ] && want+=("${TEST_PKGS[@]}")

missing=()
for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# jackd2 asks about realtime priority; the tests run it without.
echo "jackd2 jackd/tweak_rt_limits boolean false" | $sudo debconf-set-selections
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
