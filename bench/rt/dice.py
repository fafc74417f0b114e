#!/usr/bin/python3
"""Dice of each structure: our label maps (one NRRD per ROI, voxel value = ROI number) against
Plastimatch's per-structure masks (NRRD files named after the structures).

usage: dice.py OURS_DIR PLASTIMATCH_DIR ROI_LIST
  ROI_LIST: a text file with "number<TAB>name" lines."""
import gzip
import sys

import numpy as np

TYPES = {"unsigned char": np.uint8, "uchar": np.uint8, "unsigned short": np.uint16, "ushort": np.uint16,
         "short": np.int16, "unsigned int": np.uint32, "uint": np.uint32, "float": np.float32}


def read_nrrd(path):
    with open(path, "rb") as f:
        data = f.read()
    end = data.index(b"\n\n")
    fields = {}
    for line in data[:end].decode("latin-1").splitlines()[1:]:
        if ":" in line and not line.startswith("#"):
            key, value = line.split(":", 1)
            fields[key.strip()] = value.strip().lstrip("=")
    body = data[end + 2:]
    if fields.get("encoding", "raw") in ("gzip", "gz"):
        body = gzip.decompress(body)
    dtype = np.dtype(TYPES[fields["type"]]).newbyteorder("<" if fields.get("endian", "little") == "little" else ">")
    sizes = [int(s) for s in fields["sizes"].split()]
    return np.frombuffer(body, dtype=dtype, count=int(np.prod(sizes))).reshape(sizes[::-1])


def main():
    ours_dir, theirs_dir, roi_list = sys.argv[1:4]
    worst = 1.0
    for line in open(roi_list):
        number, name = line.rstrip("\n").split("\t", 1)
        ours = read_nrrd(f"{ours_dir}/{number}.nrrd") == int(number)
        theirs = read_nrrd(f"{theirs_dir}/{name}.nrrd") > 0
        if ours.shape != theirs.shape:
            print(f"  ROI {number} {name}: grids differ {ours.shape} vs {theirs.shape}")
            worst = 0.0
            continue
        total = ours.sum() + theirs.sum()
        dice = 2.0 * np.logical_and(ours, theirs).sum() / total if total else 1.0
        worst = min(worst, dice)
        print(f"  ROI {number:>3} {name:<20} voxels {int(ours.sum()):>8} vs {int(theirs.sum()):>8}  Dice {dice:.4f}")
    print(f"  lowest Dice {worst:.4f} (goal >= 0.98)")


main()
