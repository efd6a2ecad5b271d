#!/usr/bin/env bash
# Set-up, build and run for a fresh Debian machine.
#   scripts/kiv.sh run    installs what is missing, builds, opens the tool
#   scripts/kiv.sh test   installs what is missing, builds, runs every test
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mode="${1:-test}"

packages=(build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev
          libbenchmark-dev libcli11-dev qt6-base-dev clang-14 libclang-rt-14-dev
          xvfb xauth fonts-liberation2)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

build() {
    local dir="$1"
    shift
    cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}

case "$mode" in
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
    echo "usage: scripts/kiv.sh run|test" >&2
    exit 2
    ;;
esac
