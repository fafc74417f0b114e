#!/usr/bin/env python3
"""Fails when a file of a lower layer of the host includes a header of a higher one.

The host is built in floors: each folder may include itself and the folders listed for it,
nothing else. The host never includes the plug-in's folders. Run from anywhere:
  scripts/check-layers.py [SOURCE_DIR]
"""
import pathlib
import re
import sys

# Folder of host/ -> the host folders it may include besides itself.
ALLOWED = {
    "core": set(),
    "network": {"core"},
    "properties": {"core"},
    "data": {"core", "properties"},
    "vtk": {"core", "properties", "data"},
    "app": {"core", "network", "properties", "data"},
    "plugin": {"core", "properties", "data", "app"},
    "dicom": {"core", "network", "properties", "data", "app"},
    "ui": {"core", "network", "properties", "data", "app", "dicom"},
    "algorithms": {"core", "network", "properties", "data", "app", "dicom", "vtk"},
}
PLUGIN_FOLDERS = ("scanning", "browser", "plugin", "editor", "rt", "resources")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def violations(root):
    host = root / "host"
    for path in sorted(host.rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        floor = path.relative_to(host).parts[0]
        if floor not in ALLOWED:
            yield f"{path.relative_to(root)}: folder host/{floor} has no place in the layer table"
            continue
        for included in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            parts = included.split("/")
            if parts[0] == "host" and len(parts) > 2:
                target = parts[1]
                if target != floor and target not in ALLOWED.get(floor, set()):
                    yield f"{path.relative_to(root)}: host/{floor} includes {included} (host/{target} is not below it)"
            elif parts[0] in PLUGIN_FOLDERS and len(parts) > 1:
                yield f"{path.relative_to(root)}: the host includes the plug-in's {included}"


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    found = list(violations(root))
    for line in found:
        print(line)
    if found:
        print(f"{len(found)} include(s) cross the layers upwards", file=sys.stderr)
        return 1
    print("layers: every host include points down or sideways within its floor")
    return 0


if __name__ == "__main__":
    sys.exit(main())
