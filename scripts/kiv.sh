#!/usr/bin/env bash
# Set-up, build and run for a fresh Debian machine.
#   scripts/kiv.sh run    installs what the tool needs, builds the two programs, opens the tool
#   scripts/kiv.sh test   installs what is missing, builds, runs every test
#   scripts/kiv.sh deps   installs what is missing, nothing else (bench/run.sh uses it)
#   scripts/kiv.sh package   builds the .deb into build/ and checks it
#   scripts/kiv.sh windows   cross-builds kivtool.exe and zips it into build-win/
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mode="${1:-test}"

# What building and running the tool needs: the compiler and build tools, CLI11 (kivtool's
# command line), Qt 6 (the windows; its offscreen platform comes with libqt6gui6), sheet
# records as JSON through the header-only nlohmann-json, zlib (PNG, read and written by the
# tool's own code, and the tool's own files: checksums and deflate streams), a font for the
# windows, and xvfb with xauth to open the windows on a machine without a display.
run_packages=(build-essential cmake ninja-build pkg-config libcli11-dev qt6-base-dev
              nlohmann-json3-dev zlib1g-dev fonts-liberation2 xvfb xauth)
# The tests add GoogleTest and clang-14 with its sanitizer and fuzzer runtimes (the fuzz
# targets). The benchmarks add Google Benchmark, python3 (the driver that times whole
# processes), /usr/bin/time (peak memory of a single run) and strace (whether a save
# flushes to disk); xdelta3 and bsdiff are the binary-patch programs the mod files are
# measured against (patch size, and the time to make and apply one). ImageMagick is the
# peer program the bitmap and PNG tests exchange files with; ffmpeg, for the tests only,
# decodes the animated PNGs the tool writes, frame by frame. The package needs help2man
# (kivtool's manual page from its own help), librsvg2-bin (the icon's PNG sizes), lintian
# and desktop-file-utils (its checks); the Windows build needs the MinGW-w64 cross compiler,
# zlib for it, GoogleTest's sources and wine64 to run its tests.
packages=("${run_packages[@]}" libgtest-dev libgmock-dev libbenchmark-dev clang-14
          libclang-rt-14-dev python3 time strace xdelta3 bsdiff imagemagick libz-mingw-w64-dev
          help2man librsvg2-bin lintian desktop-file-utils g++-mingw-w64-x86-64-posix
          googletest wine64 ffmpeg)

# Installs those of the named packages that are missing.
install_missing() {
    local missing=()
    for p in "$@"; do
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

linux_options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_BUILD_UI=ON -DKIV_BUILD_TOOLS=ON)

# Everything, the test suites included, in build/.
build_linux() {
    cmake -S "$root" -B "$root/build" -G Ninja "${launcher[@]}" "${linux_options[@]}" \
        -DKIV_BUILD_TESTS=ON >/dev/null
    cmake --build "$root/build" -j "$(nproc)"
}

# Only the two programs. A build/ that `test` configured keeps its test suites (they are
# just not built); a fresh one is configured without them, so GoogleTest is not needed.
build_programs() {
    local tests=()
    [ -f "$root/build/CMakeCache.txt" ] || tests=(-DKIV_BUILD_TESTS=OFF)
    cmake -S "$root" -B "$root/build" -G Ninja "${launcher[@]}" "${linux_options[@]}" \
        "${tests[@]}" >/dev/null
    cmake --build "$root/build" -j "$(nproc)" --target Kivutil kivtool
}

# The .deb in build/, then lintian on it (errors fail, the rest is shown).
make_package() {
    rm -f "$root"/build/kiv-utilities_*.deb
    (cd "$root/build" && cpack >/dev/null)
    deb=$(ls "$root"/build/kiv-utilities_*.deb)
    echo "Package: $deb"
    local status=0
    lintian --fail-on error "$deb" >"$root/build/lintian.txt" 2>&1 || status=$?
    grep -v "^running with root privileges" "$root/build/lintian.txt" || true
    return $status
}

# Unpacks the package into a scratch folder and runs what it installed from there.
check_package() {
    local scratch
    scratch=$(mktemp -d)
    dpkg-deb -x "$deb" "$scratch/root"
    desktop-file-validate "$scratch/root/usr/share/applications/kivutil.desktop"
    "$scratch/root/usr/bin/kivtool" --help >"$scratch/help.txt"
    grep -q "^Usage: kivtool" "$scratch/help.txt"
    # File managers find the thumbnailer here; it runs with no home folder.
    grep -q "^Exec=kivtool thumbnail " "$scratch/root/usr/share/thumbnailers/kivutil.thumbnailer"
    "$scratch/root/usr/bin/kivtool" demo "$scratch/demo" >/dev/null
    env -u HOME "$scratch/root/usr/bin/kivtool" thumbnail "$scratch/demo/Modgen.dat" "$scratch/t.png"
    # The browser starts offscreen in an empty folder; a termination request closes it
    # through its event loop with exit code 0. A platform that failed to load would print.
    mkdir "$scratch/work"
    (cd "$scratch/work" && QT_QPA_PLATFORM=offscreen timeout --preserve-status -s TERM 3 \
        "$scratch/root/usr/bin/Kivutil" 2>"$scratch/err.txt")
    if grep -qi "could not\|cannot\|error" "$scratch/err.txt"; then
        cat "$scratch/err.txt" >&2
        exit 1
    fi
    rm -rf "$scratch"
    echo "Package check passed: kivtool --help, its thumbnailer and Kivutil ran from the unpacked package."
}

# Core and kivtool for 64-bit Windows in build-win/, statically linked; Wine keeps its
# settings there too, away from the user's own.
export WINEPREFIX="$root/build-win/wine" WINEDEBUG=-all
build_windows() {
    cmake -S "$root" -B "$root/build-win" -G Ninja "${launcher[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DKIV_BUILD_UI=OFF -DKIV_BUILD_TOOLS=ON >/dev/null
    cmake --build "$root/build-win" -j "$(nproc)" --target kivtool
}

# The same build with the core and kivtool tests, which ctest runs under Wine.
build_windows_tests() {
    build_windows
    cmake --build "$root/build-win" -j "$(nproc)"
}

# kivtool.exe and a README for Windows users, zipped.
zip_windows() {
    local stage="$root/build-win/kiv-utilities-windows"
    rm -rf "$stage" "$stage.zip"
    mkdir -p "$stage"
    cp "$root/build-win/tools/kivtool/kivtool.exe" "$stage/"
    sed 's/$/\r/' "$root/dist/windows/README.txt" >"$stage/README.txt"
    (cd "$root/build-win" && cmake -E tar cf kiv-utilities-windows.zip --format=zip \
        kiv-utilities-windows)
    echo "Windows zip: $stage.zip"
}

case "$mode" in
deps)
    install_missing "${packages[@]}"
    ;;
test)
    install_missing "${packages[@]}"
    build_linux
    (cd "$root/build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)")
    started=$SECONDS
    make_package
    check_package
    echo "Package build and check: $((SECONDS - started)) s"
    started=$SECONDS
    build_windows_tests
    # The first run sets up Wine's folder; the tests then start at full pace.
    wine=$(sed -n 's/^KIV_WINE:FILEPATH=//p' "$root/build-win/CMakeCache.txt")
    "$wine" "$root/build-win/tools/kivtool/kivtool.exe" --version
    (cd "$root/build-win" && ctest --output-on-failure -j "$(nproc)")
    echo "Windows build and tests under Wine: $((SECONDS - started)) s"
    bash "$root/scripts/hardening.sh"
    ;;
package)
    install_missing "${packages[@]}"
    build_linux
    make_package
    check_package
    ;;
windows)
    install_missing "${packages[@]}"
    build_windows
    zip_windows
    ;;
run)
    install_missing "${run_packages[@]}"
    build_programs
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
    echo "usage: scripts/kiv.sh run|test|deps|package|windows" >&2
    exit 2
    ;;
esac
