#!/usr/bin/env bash
# `scripts/kiv.sh run` installs only what building and running the tool needs: every
# package a library of core, ui or kivtool is found in, none that only the tests, the
# benchmarks, the package or the Windows build need, and every name a Debian package.
set -euo pipefail
root="$1"
script="$root/scripts/kiv.sh"

# The array as the script writes it, read without running the script.
list=$(sed -n '/^run_packages=(/,/)/p' "$script")
[ -n "$list" ] || { echo "no run_packages=(...) in $script" >&2; exit 1; }
eval "$list"
grep -q 'install_missing "${run_packages\[@\]}"' "$script" ||
    { echo "run does not install run_packages" >&2; exit 1; }

status=0
has() { printf '%s\n' "${run_packages[@]}" | grep -qx "$1"; }

for p in libgtest-dev libgmock-dev googletest libbenchmark-dev clang-14 libclang-rt-14-dev \
         wine64 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev lintian imagemagick help2man ffmpeg; do
    has "$p" && { echo "run installs $p, which only the tests or other builds need" >&2; status=1; }
done

# The package of each library the programs' CMake files look for; a new find_package
# needs its row here and its package in the run list.
declare -A package_of=([Qt6]=qt6-base-dev [CLI11]=libcli11-dev
                       [nlohmann_json]=nlohmann-json3-dev [ZLIB]=zlib1g-dev)
for name in $(grep -ho 'find_package([A-Za-z0-9_]*' "$root"/CMakeLists.txt "$root"/core/CMakeLists.txt \
                  "$root"/ui/CMakeLists.txt "$root"/tools/kivtool/CMakeLists.txt | sed 's/.*(//' | sort -u); do
    p="${package_of[$name]:-}"
    if [ -z "$p" ]; then
        echo "find_package($name): no package known for it in $0" >&2
        status=1
    elif ! has "$p"; then
        echo "find_package($name) needs $p, which run does not install" >&2
        status=1
    fi
done

# A misspelt name would stop apt-get on a fresh machine.
if command -v apt-cache >/dev/null; then
    for p in "${run_packages[@]}"; do
        dpkg-query -W "$p" >/dev/null 2>&1 || apt-cache show "$p" >/dev/null 2>&1 ||
            { echo "$p is not a Debian package" >&2; status=1; }
    done
fi
exit $status
