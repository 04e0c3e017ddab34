#!/usr/bin/env bash
# Installs what is missing (Debian packages, the map library from npm), then configures and
# builds the project. Safe to run again: a second run installs nothing and rebuilds only what
# changed. Usage: scripts/setup.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
shift || true

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
while read -r pkg; do
    case "$pkg" in ''|'#'*) continue ;; esac
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done < "$root/scripts/packages.txt"
# npm comes with some Node.js builds and as its own package with Debian's: ask only when absent.
if ! command -v npm >/dev/null 2>&1; then missing+=(nodejs npm); fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

# The map pages load Leaflet from the build tree; it is never committed.
if [ ! -f "$root/third_party/node_modules/leaflet/dist/leaflet.js" ]; then
    echo "setup: installing leaflet from npm"
    mkdir -p "$root/third_party"
    (cd "$root/third_party" && npm install --no-audit --no-fund --silent --prefix . leaflet@1 >/dev/null)
fi

jobs=$(nproc 2>/dev/null || echo 2)
if [ ! -f "$build/CMakeCache.txt" ]; then
    launcher=()
    # ccache makes rebuilds in a second build folder (sanitizers, a fresh clone) cheap.
    if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
    (cd "$root" && cmake --preset default -B "$build" "${launcher[@]}" "$@" >/dev/null)
fi
cmake --build "$build" -j "$jobs"
