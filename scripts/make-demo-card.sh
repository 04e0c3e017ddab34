#!/usr/bin/env bash
# Makes the bundled demo card in DIR: the device's three recording folders (ory_rec, evt_rec,
# usr_rec) filled by tools/make-recording with the device's file names; DIR/.complete last.
# Usage: scripts/make-demo-card.sh DIR
# The program is taken from $VELK_BUILD_DIR/bin/make-recording (default <root>/build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -ne 1 ]; then
    echo "usage: $0 DIR" >&2
    exit 2
fi
card=$1
build=${VELK_BUILD_DIR:-"$root/build"}
tool="$build/bin/make-recording"
if [ ! -x "$tool" ] && [ -f "$build/CMakeCache.txt" ]; then
    cmake --build "$build" --target make-recording >/dev/null
fi
if [ ! -x "$tool" ]; then
    echo "make-demo-card: $tool is missing; build the project first (scripts/setup.sh)" >&2
    exit 1
fi

rm -f "$card/.complete"
mkdir -p "$card/ory_rec" "$card/evt_rec" "$card/usr_rec"
# A folder has no volume label; this names the label the real card carries.
echo "VELK-T" >"$card/.volume-label"

# folder/name seconds device unit seed. The key after the last "_" decides the category
# (N normal, E event, U manual); the card catalogue lists only the .mp4 keys, the .avi one is
# found when a file of its folder is opened by hand.
recordings=(
    "ory_rec/20260105_083000_N.mp4 20 t  kmh 1"
    "ory_rec/20260105_083020_N.mp4 20 t  kmh 2"
    "ory_rec/20260105_083040_N.mp4 20 rs mph 3"
    "ory_rec/20260105_083100_N.avi 10 t  kmh 4"
    "evt_rec/20260105_083012_E.mp4 10 t  kmh 5"
    "evt_rec/20260105_083047_E.mp4 10 t  kmh 6"
    "usr_rec/20260105_083105_U.mp4 15 t  kmh 7"
)
start=$(date +%s)
for entry in "${recordings[@]}"; do
    read -r file seconds device unit seed <<<"$entry"
    target="$card/$file"
    if [ -s "$target" ]; then
        continue # kept from an interrupted earlier run
    fi
    # Written under a hidden name and renamed, so a half file never carries a recording's name.
    partial="$(dirname "$target")/.partial-$(basename "$target")"
    echo "make-demo-card: $file (${seconds} s, VELK-${device^^}, $unit)"
    "$tool" --out "$partial" --duration "$seconds" --device "$device" --unit "$unit" \
        --seed "$seed"
    mv -f "$partial" "$target"
done
touch "$card/.complete"
echo "make-demo-card: $card done in $(($(date +%s) - start)) s"
