#!/usr/bin/env bash
# zu for Windows, cross-built on Debian 12 from Debian's own source packages:
#   scripts/windows.sh [zip]  installs mingw-w64 and Wine when missing, builds SDL2,
#                             SDL2_ttf, freetype, HarfBuzz (which lays out text as the
#                             Linux build's SDL2_ttf does), RtMidi (WinMM) and GoogleTest
#                             for Windows once (in ~/.cache/zu-windows, a folder per set of
#                             versions), then zu.exe, and packs
#                             build-windows/zu-VERSION-windows-x64.zip
#   scripts/windows.sh test   the zip, then every test labelled windows, under Wine
# ZU_WINDOWS_CACHE and ZU_WINDOWS_BUILD move the cache and the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
mode=${1:-zip}
jobs=2 # the machine is shared
cache=${ZU_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/zu-windows}
out=${ZU_WINDOWS_BUILD:-$root/build-windows}
toolchain=$root/cmake/mingw-w64.cmake
# Raise when the way the libraries are built changes: it is part of the cache key.
recipe=1

PKGS=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
      wine wine64 cmake make pkg-config python3 python3-glad dpkg-dev zip unzip
      googletest)

install_packages() {
    local missing=() p sudo=""
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=900 "${missing[@]}"
}

# apt with a sources list, lists and cache of its own: deb-src beside each Debian deb
# source the machine has, so the machine's own apt setup is never touched.
private_apt() {
    local dir=$cache/apt
    mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial" "$dir/parts"
    apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' \
        "Origin: Debian" "Identifier: Packages" | sort -u |
        awk 'NF { print "deb-src", $0 }' >"$dir/sources.list"
    apt=(-o Dir::Etc::SourceList="$dir/sources.list" -o Dir::Etc::SourceParts="$dir/parts"
         -o Dir::State::Lists="$dir/lists" -o Dir::Cache="$dir/cache"
         -o APT::Sandbox::User="$(id -un)")
    apt-get "${apt[@]}" update -qq || [ -n "$(ls "$dir/lists" | grep Sources)" ]
}

# The newest version of source package $1 the private lists know.
source_version() {
    apt-cache "${apt[@]}" showsrc --only-source "$1" | awk '/^Version:/ { print $2 }' |
        sort -V | tail -n 1
}

cmake_cross() {
    local src=$1 build=$2
    shift 2
    cmake -S "$src" -B "$build" -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DZU_WINDOWS_DEPS="$deps" -DCMAKE_INSTALL_PREFIX="$deps" -DCMAKE_BUILD_TYPE=Release \
        -DBUILD_SHARED_LIBS=OFF "$@" >"$build.log" 2>&1 &&
        cmake --build "$build" -j "$jobs" >>"$build.log" 2>&1 &&
        cmake --install "$build" >>"$build.log" 2>&1 || { tail -n 30 "$build.log"; exit 1; }
}

# Fetches and builds the libraries into $deps, static and with only what zu uses.
build_deps() {
    local work=$deps.work
    rm -rf "$work" "$deps"
    mkdir -p "$work" "$deps/licenses"
    local p wanted=()
    for p in "${!versions[@]}"; do wanted+=("$p=${versions[$p]}"); done
    (cd "$work" && apt-get "${apt[@]}" source -qq "${wanted[@]}" >fetch.log 2>&1) ||
        { cat "$work/fetch.log"; exit 1; }
    local ft hb sdl ttf rt
    ft=$(ls -d "$work"/freetype-*/) hb=$(ls -d "$work"/harfbuzz-*/)
    sdl=$(ls -d "$work"/libsdl2-2*/) ttf=$(ls -d "$work"/libsdl2-ttf-*/)
    rt=$(ls -d "$work"/rtmidi-*/)
    echo "Building freetype"
    cmake_cross "$ft" "$work/b-freetype" -DFT_DISABLE_ZLIB=ON -DFT_DISABLE_BZIP2=ON \
        -DFT_DISABLE_PNG=ON -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BROTLI=ON
    echo "Building HarfBuzz"
    cmake_cross "$hb" "$work/b-harfbuzz" -DHB_HAVE_FREETYPE=ON -DHB_BUILD_SUBSET=OFF
    echo "Building SDL2"
    cmake_cross "$sdl" "$work/b-sdl2" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF \
        -DSDL_AUDIO=OFF -DSDL_JOYSTICK=OFF -DSDL_HAPTIC=OFF -DSDL_HIDAPI=OFF -DSDL_SENSOR=OFF \
        -DSDL_POWER=OFF -DSDL_VULKAN=OFF
    echo "Building SDL2_ttf"
    cmake_cross "$ttf" "$work/b-ttf" -DSDL2TTF_SAMPLES=OFF -DSDL2TTF_HARFBUZZ=ON \
        -DSDL2TTF_VENDORED=OFF
    echo "Building RtMidi"
    cmake_cross "$rt" "$work/b-rtmidi" -DRTMIDI_API_WINMM=ON -DRTMIDI_API_JACK=OFF \
        -DRTMIDI_API_ALSA=OFF -DRTMIDI_API_CORE=OFF -DRTMIDI_BUILD_TESTING=OFF
    # SDL2_ttf writes a pkg-config file only for its shared library.
    cat >"$deps/lib/pkgconfig/SDL2_ttf.pc" <<EOF
prefix=$deps
Name: SDL2_ttf
Description: TrueType fonts for SDL2
Version: ${versions[libsdl2-ttf]%%+*}
Requires: sdl2
Libs: -L\${prefix}/lib -lSDL2_ttf
Libs.private: -lharfbuzz -lfreetype
Cflags: -I\${prefix}/include/SDL2
EOF
    # RtMidi's names the thread library (which -pthread brings, static) but not WinMM.
    sed -i 's/^Libs.private:.*/Libs.private: -lwinmm/' "$deps/lib/pkgconfig/rtmidi.pc"
    echo "Building GoogleTest"
    cmake_cross /usr/src/googletest "$work/b-gtest" -Dgtest_disable_pthreads=OFF
    cp "$ft/LICENSE.TXT" "$deps/licenses/freetype-LICENSE.txt"
    cp "$ft/docs/FTL.TXT" "$deps/licenses/freetype-FTL.txt"
    cp "$hb/COPYING" "$deps/licenses/HarfBuzz-COPYING.txt"
    cp "$sdl/LICENSE.txt" "$deps/licenses/SDL2-LICENSE.txt"
    cp "$ttf/LICENSE.txt" "$deps/licenses/SDL2_ttf-LICENSE.txt"
    cp "$rt/LICENSE" "$deps/licenses/RtMidi-LICENSE.txt"
    # The C and C++ runtimes linked into zu.exe: GCC's (runtime exception) and
    # mingw-w64's, whose thread library wants its notice kept.
    cp /usr/share/doc/gcc-mingw-w64-base/copyright "$deps/licenses/gcc-runtime-copyright.txt"
    cp /usr/share/doc/mingw-w64-common/copyright "$deps/licenses/mingw-w64-copyright.txt"
    rm -rf "$work"
}

case "$mode" in
zip) ;;
test) scripts/install-deps.sh test ;; # the Linux build drives zu.exe in the tests
*) echo "usage: scripts/windows.sh [zip|test]" >&2; exit 2 ;;
esac
install_packages "${PKGS[@]}"
private_apt
declare -A versions
for p in freetype harfbuzz libsdl2 libsdl2-ttf rtmidi; do
    versions[$p]=$(source_version "$p")
    [ -n "${versions[$p]}" ] || { echo "no source package $p" >&2; exit 1; }
done
compiler=$(x86_64-w64-mingw32-g++-posix -dumpfullversion)
key=$(for p in "${!versions[@]}"; do echo "$p=${versions[$p]}"; done | sort |
    cat - <(echo "$recipe $compiler") | sha1sum | cut -c1-12)
deps=$cache/deps-$key
if [ -f "$deps/done" ]; then
    echo "Libraries from the cache: $deps"
else
    echo "Building the libraries into $deps:" \
        "$(for p in "${!versions[@]}"; do echo -n " $p ${versions[$p]}"; done)"
    build_deps
    touch "$deps/done"
fi

echo "Building zu.exe in $out"
mkdir -p "$out"
log=$out/windows.log
# A cache folder of another key leaves its pkg-config answers behind: ask again.
rm -f "$out/CMakeCache.txt"
targets=(zu_zip)
[ "$mode" = test ] && targets+=(unit_tests)
{ cmake -S "$root" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DZU_WINDOWS_DEPS="$deps" \
    -DCMAKE_BUILD_TYPE=Release && cmake --build "$out" -j "$jobs" --target "${targets[@]}"; } \
    >"$log" 2>&1 || { tail -n 40 "$log"; exit 1; }
ls -l "$out"/zu-*-windows-x64.zip

[ "$mode" = test ] || exit 0
exec tests/windows/run.sh "$out"
