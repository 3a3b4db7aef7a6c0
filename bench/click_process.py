#!/usr/bin/env python3
"""The click as a whole process: `pixmora-cli frame PHOTO OUT.bmp` beside
`djpeg -scale 1/8 -bmp -outfile OUT.bmp PHOTO` on the same file.

Each round runs every command once, the pairs in turn (which of the two goes
first alternates), and takes the CPU time (user + system) of each finished
process from wait4, so start-up, reading the file and writing the output all
count (the spawn itself too, on both sides). Prints one JSON object a photo: the median CPU times in ms, the ratio
pixmora / djpeg, and the spread of the rounds.

  bench/click_process.py CLI ROUNDS PHOTO... [--tiny]

--tiny adds an 8 x 8 picture (made with cjpeg), where the process is all
that is left to measure.
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile


def cpu_ms(argv):
    """Runs argv to the end; its CPU time in ms (user + system). posix_spawn
    starts it without a copy of this process, whose time would count too."""
    devnull = os.open(os.devnull, os.O_RDWR)
    try:
        pid = os.posix_spawnp(argv[0], argv, os.environ,
                              file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 0),
                                            (os.POSIX_SPAWN_DUP2, devnull, 1)])
    finally:
        os.close(devnull)
    _, status, usage = os.wait4(pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"click_process: {' '.join(argv)} failed ({status})")
    return (usage.ru_utime + usage.ru_stime) * 1000.0


def tiny_jpeg(folder):
    ppm = os.path.join(folder, "tiny.ppm")
    with open(ppm, "wb") as f:
        f.write(b"P6\n8 8\n255\n" + bytes((x * 29 + y * 7) & 255 for y in range(8)
                                            for x in range(24)))
    out = os.path.join(folder, "tiny.jpg")
    subprocess.run(["cjpeg", "-quality", "90", "-outfile", out, ppm], check=True)
    return out


def main():
    args = sys.argv[1:]
    tiny = "--tiny" in args
    args = [a for a in args if a != "--tiny"]
    cli, rounds, photos = args[0], int(args[1]), args[2:]
    with tempfile.TemporaryDirectory() as work:
        if tiny:
            photos.append(tiny_jpeg(work))
        ours_out = os.path.join(work, "frame.bmp")
        peer_out = os.path.join(work, "djpeg.bmp")
        times = {p: ([], []) for p in photos}
        # one untimed run each, so every file is in the page cache
        for p in photos:
            cpu_ms([cli, "frame", p, ours_out])
            cpu_ms(["djpeg", "-scale", "1/8", "-bmp", "-outfile", peer_out, p])
        for r in range(rounds):
            for p in photos:
                ours = lambda: times[p][0].append(cpu_ms([cli, "frame", p, ours_out]))
                peer = lambda: times[p][1].append(
                    cpu_ms(["djpeg", "-scale", "1/8", "-bmp", "-outfile", peer_out, p]))
                for step in ((ours, peer) if r % 2 == 0 else (peer, ours)):
                    step()
        for p in photos:
            ours, peer = times[p]
            name = "8 x 8 picture" if tiny and p == photos[-1] else os.path.basename(p)
            print(json.dumps({
                "photo": name, "rounds": rounds,
                "pixmora_ms": statistics.median(ours), "djpeg_ms": statistics.median(peer),
                "ratio": statistics.median(ours) / statistics.median(peer),
                "pixmora_range": [min(ours), max(ours)], "djpeg_range": [min(peer), max(peer)],
            }))


if __name__ == "__main__":
    main()
