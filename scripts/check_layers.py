#!/usr/bin/env python3
"""The folder tree is the layer diagram: every include between folders points
down, folders of one layer do not include each other, Windows files live in
app/ only, and no source file of the program grows past 700 lines.
Prints each breach and exits 1 when there is one."""
import os
import re
import sys

# Lower numbers are lower layers; a file may include its own folder and lower layers.
LAYERS = {
    "picture": 0,
    "codecs": 1,
    "fit": 2,
    "tools": 3, "export": 3, "browser": 3, "settings": 3,
    "cli": 4,
    "app": 5,
}
SHARED = {"resources"}  # resource ids: the Windows program and its tests
LONGEST = 700

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
include = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/[^"]+"', re.M)
breaches = []
for folder, layer in LAYERS.items():
    path = os.path.join(root, folder)
    for name in sorted(os.listdir(path)):
        if not name.endswith((".cpp", ".h")):
            continue
        rel = f"{folder}/{name}"
        if folder != "app" and re.search(r"_win\.(cpp|h)$", name):
            breaches.append(f"{rel}: a Windows file outside app/")
        text = open(os.path.join(path, name), encoding="utf-8").read()
        lines = text.count("\n")
        if lines > LONGEST:
            breaches.append(f"{rel}: {lines} lines (at most {LONGEST})")
        for target in include.findall(text):
            if target == folder or (target in SHARED and folder == "app"):
                continue
            if target not in LAYERS:
                breaches.append(f"{rel}: includes {target}/, which no layer holds")
            elif LAYERS[target] >= layer:
                breaches.append(f"{rel}: includes {target}/ (layer {LAYERS[target]}), "
                                f"not below {folder}/ (layer {layer})")
for b in breaches:
    print(b)
print(f"layer check: {len(breaches)} breaches")
sys.exit(1 if breaches else 0)
