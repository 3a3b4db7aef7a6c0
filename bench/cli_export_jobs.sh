#!/usr/bin/env bash
# pixmora-cli export of 30 photos of 12 megapixels with --jobs 2 against
# --jobs 1, in the same run: each is timed ROUNDS times (alternating, the
# best wall time counts) and the speed-up is printed with the CPU times.
# Needs the benchmark photos (bench/make_bench_photos.sh) and a native build.
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
CLI="${PIXMORA_CLI:-$ROOT/build/native/pixmora-cli}"
PHOTOS="$ROOT/build/bench-photos"
ROUNDS="${ROUNDS:-3}"
[ -x "$CLI" ] || { echo "cli_export_jobs: build the native preset first" >&2; exit 1; }
[ -f "$PHOTOS/photo-420.jpg" ] || "$ROOT/bench/make_bench_photos.sh" >/dev/null

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
mkdir "$WORK/in"
# 30 photos: the four kinds in turn, most of them baseline 4:2:0 as cameras write
kinds=(photo-420 photo-420 photo-444 photo-420 photo-gray photo-420-prog)
for i in $(seq 0 29); do
    cp "$PHOTOS/${kinds[i % ${#kinds[@]}]}.jpg" "$WORK/in/IMG_$(printf %04d "$i").JPG"
done

best() { sort -n | head -n1; }
run() {  # jobs -> "wall user sys"
    rm -rf "$WORK/out"
    /usr/bin/time -f "%e %U %S" -o "$WORK/time" "$CLI" export -q --jobs "$1" "$WORK/out" "$WORK/in"
    cat "$WORK/time"
}
: >"$WORK/t1"
: >"$WORK/t2"
for _ in $(seq "$ROUNDS"); do
    run 1 >>"$WORK/t1"
    run 2 >>"$WORK/t2"
done
w1=$(cut -d' ' -f1 "$WORK/t1" | best)
w2=$(cut -d' ' -f1 "$WORK/t2" | best)
echo "jobs 1: best wall ${w1} s (wall user sys per round: $(tr '\n' ';' <"$WORK/t1"))"
echo "jobs 2: best wall ${w2} s (wall user sys per round: $(tr '\n' ';' <"$WORK/t2"))"
echo "speed-up --jobs 2 / --jobs 1: $(echo "scale=2; $w1 / $w2" | bc) x (target 1.8 x on 2 idle cores)"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
