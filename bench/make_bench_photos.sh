#!/usr/bin/env bash
# Makes the ~12-megapixel JPEG photos of the decoder benchmark from Debian's
# wallpaper photos: a 2 x 2 mosaic (4096 x 3072) of four photos, re-encoded
# with cjpeg as baseline 4:2:0, 4:4:4, greyscale and progressive 4:2:0 at
# quality 90, baseline 4:2:0 and 4:4:4 at qualities 75 and 95, and a smooth,
# low-detail picture (the mosaic shrunk 16 times and enlarged again) as
# baseline 4:2:0 and 4:4:4 at quality 90, and the 4:2:0 photo with restart
# intervals. The list is bench/bench_photos.h.
# The mosaic is also saved as an RGB PNG by ImageMagick (its default zlib
# level and adaptive filters) for the PNG reader's benchmark.
# Output: build/bench-photos/ (not committed). Installs what it needs when
# run as root (plasma-workspace-wallpapers, imagemagick, libjpeg-turbo-progs).
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUT="$ROOT/build/bench-photos"
WALL=/usr/share/wallpapers
PHOTOS="EveningGlow BytheWater ColorfulCups Path"

need=""
[ -d "$WALL/EveningGlow" ] || need="$need plasma-workspace-wallpapers"
command -v convert >/dev/null || need="$need imagemagick"
command -v cjpeg >/dev/null || need="$need libjpeg-turbo-progs"
if [ -n "$need" ]; then
    if [ "$(id -u)" = 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $need
    else
        echo "make_bench_photos: install as root: apt-get install$need" >&2
        exit 1
    fi
fi

mkdir -p "$OUT"
tiles=""
for p in $PHOTOS; do
    convert "$WALL/$p/contents/images/2560x1600.jpg" -resize 2048x1536^ -gravity center \
        -extent 2048x1536 "$OUT/tile-$p.ppm"
    tiles="$tiles $OUT/tile-$p.ppm"
done
set -- $tiles
convert \( "$1" "$2" +append \) \( "$3" "$4" +append \) -append "$OUT/mosaic.ppm"
rm -f $tiles
convert "$OUT/mosaic.ppm" -define png:color-type=2 "$OUT/photo.png"
cjpeg -quality 90 -sample 2x2 -outfile "$OUT/photo-420.jpg" "$OUT/mosaic.ppm"
cjpeg -quality 90 -sample 1x1 -outfile "$OUT/photo-444.jpg" "$OUT/mosaic.ppm"
cjpeg -quality 90 -grayscale -outfile "$OUT/photo-gray.jpg" "$OUT/mosaic.ppm"
cjpeg -quality 90 -sample 2x2 -progressive -outfile "$OUT/photo-420-prog.jpg" "$OUT/mosaic.ppm"
# the same coefficients with a restart marker after every MCU row
jpegtran -restart 1 -outfile "$OUT/photo-420-rst.jpg" "$OUT/photo-420.jpg"
for q in 75 95; do
    cjpeg -quality $q -sample 2x2 -outfile "$OUT/photo-420-q$q.jpg" "$OUT/mosaic.ppm"
    cjpeg -quality $q -sample 1x1 -outfile "$OUT/photo-444-q$q.jpg" "$OUT/mosaic.ppm"
done
convert "$OUT/mosaic.ppm" -resize 256x192 -resize 4096x3072 "$OUT/smooth.ppm"
cjpeg -quality 90 -sample 2x2 -outfile "$OUT/smooth-420.jpg" "$OUT/smooth.ppm"
cjpeg -quality 90 -sample 1x1 -outfile "$OUT/smooth-444.jpg" "$OUT/smooth.ppm"
rm -f "$OUT/mosaic.ppm" "$OUT/smooth.ppm"
ls -l "$OUT"
