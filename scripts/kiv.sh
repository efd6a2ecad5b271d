#!/usr/bin/env bash
# Set-up, build and run for a fresh Debian machine.
#   scripts/kiv.sh run    installs what is missing, builds, opens the tool
#   scripts/kiv.sh test   installs what is missing, builds, runs every test
#   scripts/kiv.sh deps   installs what is missing, nothing else (bench/run.sh uses it)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mode="${1:-test}"

# Build and tests: compilers (g++ for the tool, clang-14 with its sanitizer and fuzzer
# runtimes for the fuzz targets), GoogleTest, CLI11, Qt 6 (its offscreen platform comes with
# libqt6gui6) and a font for the windows. The benchmarks add Google Benchmark, python3 and
# /usr/bin/time; xvfb runs the tool on a machine without a display. ImageMagick is the peer
# program the bitmap and PNG tests exchange files with. PNG files go through stb's
# header-only decoder and encoder.
packages=(build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev
          libbenchmark-dev libcli11-dev qt6-base-dev clang-14 libclang-rt-14-dev
          xvfb xauth fonts-liberation2 python3 time imagemagick libstb-dev)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    # sudo drops the environment, so the front end is set through env on its far side.
    local run=(env DEBIAN_FRONTEND=noninteractive)
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            echo "Missing packages: ${missing[*]}" >&2
            echo "Install them as root (apt-get install ${missing[*]}) or install sudo." >&2
            exit 1
        fi
        run=(sudo "${run[@]}")
    fi
    # A fresh machine may still be running its own package updates: wait for the lock.
    local apt=(apt-get -o DPkg::Lock::Timeout=600 -o Dpkg::Use-Pty=0)
    echo "Installing: ${missing[*]}"
    "${run[@]}" "${apt[@]}" update -qq
    "${run[@]}" "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# ccache, where installed, makes rebuilds of unchanged sources free.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

build() {
    local dir="$1"
    shift
    cmake -S "$root" -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}

case "$mode" in
deps)
    install_missing
    ;;
test)
    install_missing
    build "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_BUILD_UI=ON -DKIV_BUILD_TOOLS=ON
    cd "$root/build"
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)"
    bash "$root/scripts/hardening.sh"
    ;;
run)
    install_missing
    build "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_BUILD_UI=ON -DKIV_BUILD_TOOLS=ON
    workdir="$root/demo"
    if [ ! -f "$PWD/Modgen.dat" ]; then
        mkdir -p "$workdir"
        [ -f "$workdir/Modgen.dat" ] || "$root/build/tools/kivtool/kivtool" demo "$workdir"
    else
        workdir="$PWD"
    fi
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
        echo "No display found. Run it under a virtual X server instead:"
        echo "  xvfb-run -a bash scripts/kiv.sh run"
        exit 1
    fi
    cd "$workdir"
    exec "$root/build/ui/Kivutil"
    ;;
*)
    echo "usage: scripts/kiv.sh run|test|deps" >&2
    exit 2
    ;;
esac
