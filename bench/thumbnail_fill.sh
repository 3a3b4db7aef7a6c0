#!/usr/bin/env bash
# The thumbnail fill of a folder of 30 photos of 12 megapixels, timed by the
# GUI test BrowserBench.ThumbnailsOfAFolderOfPhotos under Wine (x86-64 build):
# the time from the scan to the last thumbnail, wall and CPU, REPS times.
# Needs build/mingw64 built and the photos of bench/make_bench_photos.sh.
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
REPS="${REPS:-9}"
[ -f build/bench-photos/photo-420.jpg ] || bench/make_bench_photos.sh
folder="$(mktemp -d)"
trap 'rm -rf "$folder"' EXIT
photos=(build/bench-photos/*.jpg)
for i in $(seq 0 29); do
    cp "${photos[$((i % ${#photos[@]}))]}" "$folder/$(printf 'p%02d' "$i")-$(basename "${photos[$((i % ${#photos[@]}))]}")"
done
. scripts/wine_env.sh
pixmora_wine_prefix
pixmora_start_xvfb
trap 'pixmora_stop_xvfb; rm -rf "$folder"' EXIT
export PIXMORA_THUMB_FOLDER="$(winepath -w "$folder" 2>/dev/null)"
for r in $(seq 1 "$REPS"); do
    wine build/mingw64/pixmora_gui_tests.exe --gtest_filter='BrowserBench.*' 2>&1 | tr -d '\r' |
        grep 'thumbnails in'
done
