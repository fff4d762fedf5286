#!/usr/bin/env python3
"""Fails on an include that runs up a layer (docs/architecture.md, "Layers").

    check-layers.py SOURCE_ROOT

Each project include ("folder/file.h") of a file in a layer must name a file
of its own layer or of a layer it may include. tests/, tools/, bench/ and
modules/ sit beside the layers and are not checked.

Within the program layer (app/), the ground floor (texts, icons and helpers
every window shares) includes no other file of app/, so no window; the top
floor (the application's start, which builds the main window) is included
by nothing of app/ but itself and the executable's main.
"""
import os
import re
import sys

# Layers by folder prefix (the longest prefix wins), and what each may include.
LAYERS = {
    "platform/": "platform",
    "core/": "core",
    "core/controls/": "windows",
    "extract/": "extract",
    "office/": "office",
    "search/": "search",
    "settings/": "settings",
    "app/": "program",
}
MAY_INCLUDE = {
    "platform": {"platform"},
    "core": {"platform", "core"},
    "extract": {"platform", "core", "extract"},
    "office": {"platform", "core", "extract", "office"},
    "search": {"platform", "core", "search"},
    "windows": {"platform", "core", "windows"},
    "settings": {"platform", "core", "windows", "search", "settings"},
    "program": {"platform", "core", "windows", "extract", "office", "search", "settings", "program"},
}
# The reader entries the search layer calls (and only those of the readers).
SEARCH_READER_ENTRIES = {"extract/extractlib.h", "office/officeentry.h", "extract/readerror.h"}

# The program layer's floors.
APP_GROUND_FLOOR = {"app/appcore.h", "app/appcore.cpp"}
APP_TOP_FLOOR_HEADERS = {"app/application.h"}
APP_TOP_FLOOR_USERS = {"app/application.cpp", "app/main.cpp"}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def layer_of(path):
    best = None
    for prefix in LAYERS:
        if path.startswith(prefix) and (best is None or len(prefix) > len(best)):
            best = prefix
    return LAYERS[best] if best else None


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "."
    faults = []
    checked = 0
    for top in sorted({p.split("/")[0] for p in LAYERS}):
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if not name.endswith((".h", ".hpp", ".c", ".cc", ".cpp", ".inc")):
                    continue
                full = os.path.join(folder, name)
                rel = os.path.relpath(full, root).replace(os.sep, "/")
                mine = layer_of(rel)
                with open(full, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                checked += 1
                for target in INCLUDE.findall(text):
                    if rel in APP_GROUND_FLOOR and target.startswith("app/") and target not in APP_GROUND_FLOOR:
                        faults.append(f"{rel}: includes {target} (the program's ground floor includes no window)")
                    if target in APP_TOP_FLOOR_HEADERS and rel.startswith("app/") and rel not in APP_TOP_FLOOR_USERS:
                        faults.append(f"{rel}: includes {target} (only the program's start includes the application)")
                    theirs = layer_of(target)
                    if theirs is None or theirs in MAY_INCLUDE[mine]:
                        continue
                    if mine == "search" and target in SEARCH_READER_ENTRIES:
                        continue
                    faults.append(f"{rel}: includes {target} ({mine} may not include {theirs})")
    for f in faults:
        print(f)
    print(f"{checked} files checked, {len(faults)} includes up a layer")
    return 1 if faults or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
