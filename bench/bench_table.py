#!/usr/bin/env python3
"""Prints scripts/bench's table: every benchmark beside its peer, as ratios.

Arguments: the JSON of the main pixmora_bench run, the JSON of the run with
libjpeg-turbo's SIMD switched off, the output of bench/cli_export_jobs.sh,
the machine's description, and the output of bench/click_process.py (JSON
lines; optional). Times are medians of the CPU time of the repetitions
(wall time where a row says so); a ratio is ours / the peer's (below 1:
ours is faster).
"""
import json
import sys

SCALE = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}


def medians(path):
    """run name -> (median CPU time in ms, label); errors are left out."""
    try:
        with open(path) as f:
            data = json.load(f)
    except (OSError, ValueError):
        return {}
    out = {}
    for b in data.get("benchmarks", []):
        if b.get("aggregate_name") != "median" or b.get("error_occurred"):
            continue
        name = b["run_name"].replace("/real_time", "")
        out[name] = (b["cpu_time"] * SCALE[b["time_unit"]], b.get("label", ""))
        WALL[name] = b["real_time"] * SCALE[b["time_unit"]]
    return out


WALL = {}  # run name -> median wall time in ms, for the rows that say so


def clicks(path):
    """bench/click_process.py's lines, or [] when it did not run."""
    try:
        with open(path) as f:
            return [json.loads(line) for line in f if line.strip()]
    except (OSError, ValueError):
        return []


def ms(t):
    if t is None:
        return "-"
    return f"{t:.3f} ms" if t < 1 else f"{t:.1f} ms" if t < 100 else f"{t:.0f} ms"


def ratio(a, b):
    if a is None or not b:
        return "-"
    return f"{a / b:.2f}" if a / b >= 0.1 else f"{a / b:.3f}"


class Table:
    def __init__(self):
        self.sections = []  # [header cells, rows]

    def section(self, title, *peers):
        self.sections.append([[title, "Pixmora"] + [x for p in peers for x in (p, "ratio")], []])

    def row(self, name, ours, *peers):
        if ours is None and all(p is None for p in peers):
            return  # not run (a FILTER), or failed
        cells = [name, ms(ours)]
        for p in peers:
            cells += [ms(p), ratio(ours, p)]
        self.sections[-1][1].append(cells)

    def print(self):
        # a section none of whose rows ran is left out
        shown = [s for s in self.sections if s[1]]
        widths = {}
        for header, rows in shown:
            for r in [header] + rows:
                for i, c in enumerate(r):
                    widths[i] = max(widths.get(i, 0), len(c))
        for header, rows in shown:
            print()
            for r in [header] + rows:
                print("  ".join(c.ljust(widths[i]) if i == 0 else c.rjust(widths[i])
                                for i, c in enumerate(r)).rstrip())


def main():
    main_run, plain_run, cli_text, machine = sys.argv[1:5]
    click_runs = clicks(sys.argv[5]) if len(sys.argv) > 5 else []
    m = medians(main_run)
    plain = medians(plain_run)
    get = lambda d, k: d.get(k, (None, ""))[0]
    t = Table()

    photos = sorted({int(k.split("/")[1]) for k in m if k.startswith("BM_JpegDecodePixmora/")})
    label = lambda i: m.get(f"BM_JpegDecodePixmora/{i}", (0, f"photo {i}"))[1]

    # The figures the decoder's speed work is judged by, first.
    t.section("Click, whole process, CPU (pixmora-cli frame)", "djpeg -scale 1/8")
    for c in click_runs:
        t.row(f"{c['photo']} ({c['rounds']} runs)", c["pixmora_ms"], c["djpeg_ms"])
    folder = "BM_ThumbnailFolder"
    t.section("Thumbnails of 30 photos, 12.6 MP", "turbo 1/8, 1 core")
    t.row("one decoder, CPU", get(m, folder + "OneDecoder"), get(m, folder + "TurboEighth"))
    t.row("a decoder per core, wall", WALL.get(folder + "EveryCore"),
          get(m, folder + "TurboEighth"))
    thumbs = sorted({int(k.split("/")[1]) for k in m if k.startswith("BM_ThumbnailPixmora/")})
    t.section("Thumbnail of one photo (read, decode, stretch)", "turbo 1/8")
    for i in thumbs:
        t.row(m[f"BM_ThumbnailPixmora/{i}"][1], get(m, f"BM_ThumbnailPixmora/{i}"),
              get(m, f"BM_ThumbnailTurboEighth/{i}"))

    t.section("JPEG decode, 12.6 MP, file in memory", "turbo SIMD", "turbo plain", "turbo SIMD default")
    for i in photos:
        t.row(label(i), get(m, f"BM_JpegDecodePixmora/{i}"),
              get(m, f"BM_JpegDecodeTurboFastUpsample/{i}"),
              get(plain, f"BM_JpegDecodeTurboFastUpsample/{i}"),
              get(m, f"BM_JpegDecodeTurboDefault/{i}"))

    t.section("Load to frame (sampled decode + fit)", "djpeg 1/8", "full + fit")
    for i in photos:
        t.row(label(i), get(m, f"BM_JpegFrameSampledDecodeAndFit/{i}"),
              get(m, f"BM_JpegFrameTurboScaleEighth/{i}"),
              get(m, f"BM_JpegFrameFullDecodeAndFit/{i}"))

    t.section("Load filled, smooth, upright", "plain stretch")
    for i in sorted({int(k.split("/")[1]) for k in m if k.startswith("BM_LoadPlainStretch/")}):
        t.row(label(i), get(m, f"BM_LoadFillSmoothUpright/{i}"), get(m, f"BM_LoadPlainStretch/{i}"))

    t.section("GIF decode (first image)", "giflib")
    for k in sorted(k for k in m if k.startswith("GifDecode/pixmora/")):
        name = k[len("GifDecode/pixmora/"):]
        t.row(name, get(m, k), get(m, "GifDecode/giflib/" + name))

    t.section("PNG decode, 12 MP, from memory", "libpng", "libpng unchecked", "stb_image")
    for i, name in ((0, "RGB photo"), (1, "palette graphic")):
        t.row(name, get(m, f"BM_PngDecodePixmora/{i}"), get(m, f"BM_PngDecodeLibpng/checked/{i}"),
              get(m, f"BM_PngDecodeLibpng/unchecked/{i}"), get(m, f"BM_PngDecodeStb/{i}"))

    t.section("BMP decode, 12 MP, from memory", "stb_image", "memcpy")
    for bits in ("24", "8"):
        t.row(f"{bits}-bit", get(m, f"BM_Decode{bits}"), get(m, f"BM_Stb{bits}"),
              get(m, f"BM_Memcpy{bits}"))

    t.section("JPEG encode, 128 x 128", "turbo islow", "turbo float")
    t.row("frame picture", get(m, "BM_EncodeJpeg_Pixmora"), get(m, "BM_EncodeJpeg_LibjpegTurboIslow"),
          get(m, "BM_EncodeJpeg_LibjpegTurboFloat"))

    t.section("Without a peer")
    for k in ("BM_SaveAll384", "BM_SaveAll384_Unchanged", "BM_SaveAll384_OverwriteInPlace",
              "BM_FitToFrame24"):
        if k in m:
            t.row(k[3:], get(m, k))

    print(machine)
    print("CPU time, median of the repetitions; ratio = Pixmora / peer (below 1.00: Pixmora is faster).")
    print("'turbo plain' is libjpeg-turbo without SIMD (a second process); both turbo columns upsample")
    print("by replication as Pixmora does, 'turbo SIMD default' uses libjpeg-turbo's default upsampling.")
    t.print()
    print()
    print("pixmora-cli export of 30 photos, --jobs 2 against --jobs 1 (best wall time):")
    try:
        with open(cli_text) as f:
            print("".join("  " + line for line in f))
    except OSError:
        print("  not run")


if __name__ == "__main__":
    main()
