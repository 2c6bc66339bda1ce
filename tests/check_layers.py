#!/usr/bin/env python3
"""Layers point down only: fails, naming file and line, when a folder under
src/ includes a header of a folder above it.

Usage: check_layers.py SRC_DIR
"""
import pathlib
import re
import sys

# Layer of each folder under src/, top to bottom; a file may include its own
# layer and the layers below it. A new folder is one line here.
LAYERS = {
    "automation": 4,
    "viewer": 3,
    "engine": 2,
    "pdf": 1,
    "pdfrender": 1,
    "print": 1,
    "twain": 1,
    "net": 1,
    "processing": 1,
    "host": 1,
    "tags": 1,
    "barcode": 1,
    "recognition": 1,
    "metafile": 1,
    "raster": 0,
}

# Public headers that belong to a layer; the others (status, array) are
# vocabulary every layer shares.
PUBLIC_HEADERS = {
    "korvex/korvex.h": "automation",
    "korvex/automation.h": "automation",
    "korvex/pipeline.h": "automation",
    "korvex/variant.h": "automation",
    "korvex/engine.h": "engine",
    "korvex/viewer.h": "viewer",
    "korvex/property_bag.h": "viewer",
    "korvex/host.h": "host",
    "korvex/global_memory.h": "host",
    "korvex/stream.h": "host",
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def layer_of_include(name):
    """The folder an include names, or None for a local or shared header."""
    if name in PUBLIC_HEADERS:
        return PUBLIC_HEADERS[name]
    top = name.split("/", 1)[0]
    return top if "/" in name and top in LAYERS else None


def main(src):
    src = pathlib.Path(src)
    failures = []
    for path in sorted(p for p in src.rglob("*") if p.is_file()):
        rel = path.relative_to(src).as_posix()
        if "/" not in rel:
            continue  # src/CMakeLists.txt
        folder = rel.split("/", 1)[0]
        if folder not in LAYERS:
            failures.append(f"src/{rel}: folder src/{folder} is not in the layer table")
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        for number, line in enumerate(text.splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = layer_of_include(match.group(1))
            if target is None or LAYERS[target] <= LAYERS[folder]:
                continue
            failures.append(f'src/{rel}:{number}: {folder} includes "{match.group(1)}" '
                            f"of the higher layer {target}")
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1]))
