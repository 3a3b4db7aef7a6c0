#!/usr/bin/env bash
# Rebuilds the JPEG fixtures of the decoder tests from a synthetic picture:
# baseline files in every accepted layout, and lossless progressive copies
# of them made with jpegtran (same coefficients, so the same pixels).
# Needs python3, cjpeg and jpegtran (Debian: libjpeg-turbo-progs).
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
python3 - "$tmp/synth.ppm" <<'PY'
import math, sys
w, h = 97, 75
seed = 12345
def rnd():
    global seed
    seed = (seed * 1103515245 + 12345) & 0x7fffffff
    return seed % 41 - 20
out = bytearray(b"P6\n%d %d\n255\n" % (w, h))
for y in range(h):
    for x in range(w):
        r = 128 + 100 * math.sin(x / 9.0) * math.cos(y / 13.0) + rnd()
        g = 40 + 2 * x + rnd()
        b = 230 - 2.5 * y + (60 if (x // 12 + y // 12) % 2 else 0) + rnd()
        out += bytes(max(0, min(255, int(v))) for v in (r, g, b))
open(sys.argv[1], "wb").write(out)
PY
cjpeg -quality 85 -sample 2x2 -outfile synth-420.jpg "$tmp/synth.ppm"
cjpeg -quality 90 -sample 1x1 -outfile synth-444.jpg "$tmp/synth.ppm"
cjpeg -quality 80 -sample 2x1 -outfile synth-422.jpg "$tmp/synth.ppm"
cjpeg -quality 80 -sample 1x2 -outfile synth-440.jpg "$tmp/synth.ppm"
cjpeg -quality 85 -grayscale -outfile synth-gray.jpg "$tmp/synth.ppm"
for f in 420 444 422 440 gray; do
    jpegtran -progressive -outfile "synth-$f-prog.jpg" "synth-$f.jpg"
done
jpegtran -progressive -restart 2B -outfile synth-420-prog-rst.jpg synth-420.jpg
