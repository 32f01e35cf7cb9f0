#!/usr/bin/env bash
# Sets up a Debian 12 machine for Kelvorn and builds it.
#
#   tools/setup.sh run    install what is missing, build the Windows program,
#                         start build/windows/kelvorn.exe under Wine
#   tools/setup.sh test   install what is missing, build both presets, run
#                         every test natively and under Wine; exits non-zero
#                         when any test fails
#   tools/setup.sh        install what is missing, nothing else
#
# Safe to run again: only missing packages are installed, and the builds are
# incremental.
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=$(nproc 2>/dev/null || echo 2)

# Build tools, the MinGW-w64 cross compiler (posix threads), Wine to run the
# Windows programs, a virtual display for GUI tests, the test oracles and
# fixture sources, and zip for the release package's archive.
PACKAGES=(
    cmake g++ make git ca-certificates
    gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine wine64
    xvfb xauth x11-apps fonts-dejavu-core strace
    googletest
    flac ffmpeg xorriso bchunk imagemagick icoutils
    wesnoth-1.16-music
    tmux clang libclang-rt-14-dev
    zip
)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        echo "setup: all packages present"
        return
    fi
    echo "setup: installing ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -q
    $sudo apt-get install -y -q "${missing[@]}"
}

# build_preset PRESET [TARGET...]: configure and build (every target when
# none is named).
build_preset() {
    local preset=$1
    shift
    cmake --preset "$preset"
    if [ $# -gt 0 ]; then
        cmake --build "build/$preset" -j"$JOBS" --target "$@"
    else
        cmake --build "build/$preset" -j"$JOBS"
    fi
}

mode=${1:-}
case "$mode" in
    ""|install)
        install_missing
        ;;
    run)
        install_missing
        build_preset windows kelvorn
        exe="$ROOT/build/windows/kelvorn.exe"
        if [ ! -f "$exe" ]; then
            echo "setup: the build did not make $exe" >&2
            exit 1
        fi
        if [ -z "${DISPLAY:-}" ]; then
            echo "setup: no DISPLAY set; the wizard needs an X display (or run it under xvfb-run -a)" >&2
        fi
        KELVORN_WINEPREFIX="$ROOT/build/windows/wineprefix" exec "$ROOT/tools/wine-run" "$exe"
        ;;
    test)
        install_missing
        build_preset native
        build_preset windows
        status=0
        (cd build/native && ctest --output-on-failure -j"$JOBS") || status=1
        (cd build/windows && xvfb-run -a ctest --output-on-failure -j"$JOBS") || status=1
        if [ $status -ne 0 ]; then
            echo "setup: some tests failed" >&2
        else
            echo "setup: all tests passed"
        fi
        exit $status
        ;;
    *)
        echo "usage: tools/setup.sh [run|test]" >&2
        exit 2
        ;;
esac
