#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets: a few pydicom files plus the hostile inputs that
once crashed or stalled the readers. Usage: make-seeds.py OUTPUT_DIR"""
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

PYDICOM = "/usr/lib/python3/dist-packages/pydicom/data/test_files"
SMALL_FILES = ["CT_small.dcm", "MR_small.dcm", "rtstruct.dcm", "JPEG2000.dcm", "MR_small_implicit.dcm",
               "MR_small_bigendian.dcm", "image_dfl.dcm", "MR_small_RLE.dcm", "SC_rgb_rle.dcm", "SC_rgb_rle_2frame.dcm",
               "nested_priv_SQ.dcm", "no_meta_group_length.dcm", "reportsi.dcm"]
DICOMDIRS = ["DICOMDIR", "DICOMDIR-implicit", "DICOMDIR-bigEnd", "DICOMDIR-reordered", "DICOMDIR-nooffset",
             "DICOMDIR-empty.dcm"]


def element(group, elem, vr, value):
    """An explicit VR little endian element."""
    if vr in (b"OB", b"OW", b"SQ", b"UN", b"UT", b"UC", b"UR", b"OD", b"OF", b"OL", b"OV", b"SV", b"UV"):
        return struct.pack("<HH2sHI", group, elem, vr, 0, len(value)) + value
    return struct.pack("<HH2sH", group, elem, vr, len(value)) + value


def uid(text):
    raw = text.encode()
    return raw + b"\0" if len(raw) % 2 else raw


def meta(transfer_syntax, sop_class="1.2.840.10008.5.1.4.1.1.7"):
    body = (element(2, 1, b"OB", b"\0\1") + element(2, 2, b"UI", uid(sop_class)) +
            element(2, 3, b"UI", uid("1.2.3.4")) + element(2, 0x10, b"UI", uid(transfer_syntax)))
    return b"\0" * 128 + b"DICM" + element(2, 0, b"UL", struct.pack("<I", len(body))) + body


def deep_explicit(levels):
    opening = struct.pack("<HH2sHI", 0x0008, 0x1115, b"SQ", 0, 0xFFFFFFFF) + struct.pack("<HHI", 0xFFFE, 0xE000,
                                                                                       0xFFFFFFFF)
    closing = struct.pack("<HHI", 0xFFFE, 0xE00D, 0) + struct.pack("<HHI", 0xFFFE, 0xE0DD, 0)
    return opening * levels + closing * levels


def deep_implicit(levels):
    opening = struct.pack("<HHI", 0x0008, 0x1115, 0xFFFFFFFF) + struct.pack("<HHI", 0xFFFE, 0xE000, 0xFFFFFFFF)
    closing = struct.pack("<HHI", 0xFFFE, 0xE00D, 0) + struct.pack("<HHI", 0xFFFE, 0xE0DD, 0)
    return opening * levels + closing * levels


def deep_defined(levels):
    """Nested sequences of defined length, built from the inside out."""
    inner = element(0x0010, 0x0020, b"LO", b"ID")
    for _ in range(levels):
        item = struct.pack("<HHI", 0xFFFE, 0xE000, len(inner)) + inner
        inner = element(0x0008, 0x1115, b"SQ", item)
    return inner


def patient():
    return element(0x0010, 0x0010, b"PN", b"DOE^JOHN") + element(0x0010, 0x0020, b"LO", b"ID")


def implicit_patient():
    return struct.pack("<HHI", 0x0010, 0x0010, 8) + b"DOE^JOHN" + struct.pack("<HHI", 0x0010, 0x0020, 2) + b"ID"


def rle_bad_offset():
    header = struct.pack("<16I", 1, 0x7FFFFFF0, *([0] * 14))
    fragment = header + b"\x00\x00" * 8
    pixels = (struct.pack("<HH2sHI", 0x7FE0, 0x0010, b"OB", 0, 0xFFFFFFFF) + struct.pack("<HHI", 0xFFFE, 0xE000, 0) +
              struct.pack("<HHI", 0xFFFE, 0xE000, len(fragment)) + fragment + struct.pack("<HHI", 0xFFFE, 0xE0DD, 0))
    image = (element(0x0028, 0x0002, b"US", struct.pack("<H", 1)) +
             element(0x0028, 0x0004, b"CS", b"MONOCHROME2 ") + element(0x0028, 0x0010, b"US", struct.pack("<H", 4)) +
             element(0x0028, 0x0011, b"US", struct.pack("<H", 4)) + element(0x0028, 0x0100, b"US", struct.pack("<H", 8)) +
             element(0x0028, 0x0101, b"US", struct.pack("<H", 8)) + element(0x0028, 0x0102, b"US", struct.pack("<H", 7)) +
             element(0x0028, 0x0103, b"US", struct.pack("<H", 0)))
    return meta("1.2.840.10008.1.2.5") + patient() + image + pixels


def hostile_files():
    explicit = "1.2.840.10008.1.2.1"
    deflater = zlib.compressobj(9, zlib.DEFLATED, -15)
    bomb = deflater.compress(patient() + element(0x0009, 0x0010, b"OB", b"\0" * (1 << 20))) + deflater.flush()
    return {
        "deep-explicit.dcm": meta(explicit) + patient() + deep_explicit(5650),
        "deep-implicit-no-meta.dcm": implicit_patient() + deep_implicit(5650),
        "deep-defined.dcm": meta(explicit) + patient() + deep_defined(300),
        "zeros-1k.dcm": b"\0" * 1024,
        "nested-overlong.dcm": meta(explicit) + patient() + struct.pack("<HH2sHI", 0x0008, 0x1115, b"SQ", 0, 0xFFFFFFFF) +
                               struct.pack("<HHI", 0xFFFE, 0xE000, 0xFFFFFFFF) +
                               struct.pack("<HH2sHI", 0x0009, 0x1010, b"OB", 0, 0xFFFFFFF0) + b"abcd",
        "deflated-1m.dcm": meta("1.2.840.10008.1.2.1.99") + bomb,
        "rle-offset-past-data.dcm": rle_bad_offset(),
    }


def multipart_seeds():
    part = open(os.path.join(PYDICOM, "CT_small.dcm"), "rb").read()
    good = (b"--XyZ\r\nContent-Type: application/dicom\r\n\r\n" + part + b"\r\n--XyZ--\r\n")
    return {
        "good": b'multipart/related; type="application/dicom"; boundary=XyZ\n' + good,
        "quoted": b'multipart/related; boundary="XyZ"; type="application/dicom"\n' + good,
        "no-parameter": b"multipart/related\n" + good,
        "long-boundary": b"multipart/related; boundary=" + b"a" * 40000 + b"\n--" + b"a" * 40000 + b"\r\n",
        "truncated": b"multipart/related; boundary=XyZ\n" + good[:len(good) // 2],
        "deep-part": (b"multipart/related; boundary=XyZ\n--XyZ\r\n\r\n" + meta("1.2.840.10008.1.2.1") + patient() +
                      deep_explicit(5650) + b"\r\n--XyZ--\r\n"),
    }


def json_seeds():
    return {
        "study.json": b'[{"00100010":{"vr":"PN","Value":[{"Alphabetic":"DOE^JOHN"}]},'
                      b'"0020000D":{"vr":"UI","Value":["1.2.3"]},"00080020":{"vr":"DA","Value":["20240101"]},'
                      b'"00201208":{"vr":"IS","Value":[3]},"00280030":{"vr":"DS","Value":[0.5,"0.5"]},'
                      b'"00280010":{"vr":"US","Value":[512]},"00091010":{"vr":"OB","InlineBinary":"AAEC"}}]',
        "sequence.json": b'[{"00081115":{"vr":"SQ","Value":[{"0020000E":{"vr":"UI","Value":["1.2.3.4"]}}]}}]',
        "deep.json": b"[" + b'{"00081115":{"vr":"SQ","Value":[' * 2000 + b"{}" + b"]}}" * 2000 + b"]",
        "out-of-range.json": b'[{"00280010":{"vr":"US","Value":[20240101]},"00181310":{"vr":"SS","Value":["-1e300"]},'
                             b'"00201208":{"vr":"IS","Value":[1e300]},"00189327":{"vr":"FL","Value":[1e300]}}]',
        "bad.json": b'[{"0010":{"vr":"PN"},"GGGGEEEE":1,"00100020":{"vr":"US","Value":["x",null,{}]}}]',
    }


def dicomdir_seeds():
    seeds = {}
    folder = os.path.join(PYDICOM, "dicomdirtests")
    for name in DICOMDIRS:
        path = os.path.join(folder, name)
        if os.path.exists(path):
            seeds[name] = open(path, "rb").read()
    full = seeds.get("DICOMDIR")
    if full:
        seeds["truncated"] = full[:len(full) // 2]
        # The root's first record offset pointed past the end of the file.
        marker = struct.pack("<HH2sH", 0x0004, 0x1200, b"UL", 4)
        at = full.find(marker)
        if at >= 0:
            seeds["offset-past-end"] = full[:at + 8] + struct.pack("<I", len(full) + 1000) + full[at + 12:]
    nooffset = seeds.get("DICOMDIR-nooffset")
    if nooffset:
        # Three bytes that make DCMTK throw from inside its reader.
        patched = bytearray(nooffset)
        for at, value in ((2932, 0o376), (5175, 0o4), (9362, 0o200)):
            patched[at] = value
        seeds["dcmtk-throws"] = bytes(patched)
    return seeds


def image(rows=8, columns=8, bits=16, frames=None, spacing=b"0.5\\0.5 ", orientation=b"1\\0\\0\\0\\1\\0 ",
          position=b"0\\0\\0 ", slope=None, pixels=None, instance=b"1.2.3.9.1"):
    """A small native CT slice (explicit VR little endian) with the geometry given as DS text."""
    def ds(value):
        return value + b" " if len(value) % 2 else value
    stored = min(bits, 16) if bits > 1 else 1
    body = (element(0x0008, 0x0016, b"UI", uid("1.2.840.10008.5.1.4.1.1.2")) + element(0x0008, 0x0018, b"UI", uid(
        instance.decode())) + element(0x0008, 0x0060, b"CS", b"CT") + patient() +
        element(0x0020, 0x000D, b"UI", uid("1.2.3.7")) + element(0x0020, 0x000E, b"UI", uid("1.2.3.8")) +
        element(0x0020, 0x0032, b"DS", ds(position)) + element(0x0020, 0x0037, b"DS", ds(orientation)) +
        element(0x0028, 0x0002, b"US", struct.pack("<H", 1)) + element(0x0028, 0x0004, b"CS", b"MONOCHROME2 "))
    if frames is not None:
        body += element(0x0028, 0x0008, b"IS", ds(frames))
    body += (element(0x0028, 0x0010, b"US", struct.pack("<H", rows)) +
             element(0x0028, 0x0011, b"US", struct.pack("<H", columns)) + element(0x0028, 0x0030, b"DS", ds(spacing)) +
             element(0x0028, 0x0100, b"US", struct.pack("<H", bits)) +
             element(0x0028, 0x0101, b"US", struct.pack("<H", stored)) +
             element(0x0028, 0x0102, b"US", struct.pack("<H", stored - 1)) +
             element(0x0028, 0x0103, b"US", struct.pack("<H", 1)))
    if slope is not None:
        body += element(0x0028, 0x1052, b"DS", ds(b"-1024")) + element(0x0028, 0x1053, b"DS", ds(slope))
    if pixels is None:
        pixels = bytes((i * 7) % 251 for i in range(max(1, rows * columns * max(bits, 8) // 8)))
    return meta("1.2.840.10008.1.2.1", "1.2.840.10008.5.1.4.1.1.2") + body + element(0x7FE0, 0x0010, b"OW", pixels)


def series(*slices):
    return b"DRAVELIN-NEXT-FILE\n".join(slices)


def volume_seeds():
    def at(z, **kw):
        return image(position=b"0\\0\\%d" % z, instance=b"1.2.3.9.%d" % (z + 1), **kw)
    return {
        "regular": series(at(0), at(5), at(10)),
        "uneven": series(at(0), at(5), at(15), at(20)),
        "mixed-sizes": series(at(0), at(5, rows=6, columns=6), at(10)),
        "zero-spacing": series(at(0, spacing=b"0\\0"), at(5, spacing=b"0\\0")),
        "nan-spacing": series(at(0, spacing=b"NaN\\NaN"), at(5, spacing=b"-1\\inf")),
        "collinear": series(at(0, orientation=b"1\\0\\0\\1\\0\\0"), at(5, orientation=b"1\\0\\0\\1\\0\\0")),
        "nan-position": series(at(0), image(position=b"NaN\\0\\5", instance=b"1.2.3.9.7"), at(10)),
        "huge-position": series(at(0), image(position=b"1e308\\-1e308\\5", instance=b"1.2.3.9.7"), at(10)),
        "same-position": series(at(0), image(position=b"0\\0\\0", instance=b"1.2.3.9.9"), at(5)),
        "frames-lie": image(frames=b"5"),
        "frames-huge": image(frames=b"2147483647"),
        "rescale-zero": series(at(0, slope=b"0"), at(5, slope=b"0")),
        "rescale-nan": series(at(0, slope=b"NaN"), at(5, slope=b"2")),
        "bits-1": image(bits=1, pixels=b"\x55" * 8),
        "bits-12": image(bits=12),
        "bits-64": image(bits=64, pixels=b"\0" * 512),
    }


def rt_contour(kind, data):
    return item(element(0x3006, 0x0042, b"CS", kind + (b" " if len(kind) % 2 else b"")) +
                element(0x3006, 0x0050, b"DS", data + (b" " if len(data) % 2 else b"")))


def item(body):
    return struct.pack("<HHI", 0xFFFE, 0xE000, len(body)) + body


def sequence(group, elem, items):
    body = b"".join(items)
    return struct.pack("<HH2sHI", group, elem, b"SQ", 0, len(body)) + body


def rt_structure_set(rois, undeclared=()):
    """An RT structure set; rois: (number, name, [(type, contour data)]); the numbers in
    `undeclared` have contours but no entry in the structure set's ROI list."""
    header = (element(0x0008, 0x0016, b"UI", uid("1.2.840.10008.5.1.4.1.1.481.3")) +
              element(0x0008, 0x0018, b"UI", uid("1.2.3.10")) + element(0x0008, 0x0060, b"CS", b"RTSTRUCT") +
              patient() + element(0x3006, 0x0002, b"SH", b"FUZZ"))
    frame = item(element(0x0020, 0x0052, b"UI", uid("1.2.3.11")))
    roi_items = [item(element(0x3006, 0x0022, b"IS", b"%-2d" % n) + element(0x3006, 0x0026, b"LO", name))
                 for n, name, _ in rois if n not in undeclared]
    contour_items = [item(element(0x3006, 0x0084, b"IS", b"%-2d" % n) +
                          sequence(0x3006, 0x0040, [rt_contour(kind, data) for kind, data in contours]))
                     for n, _, contours in rois]
    return (meta("1.2.840.10008.1.2.1", "1.2.840.10008.5.1.4.1.1.481.3") + header +
            sequence(0x3006, 0x0010, [frame]) + sequence(0x3006, 0x0020, roi_items) +
            sequence(0x3006, 0x0039, contour_items))


def rt_seeds():
    square = b"-10\\-10\\1\\10\\-10\\1\\10\\10\\1\\-10\\10\\1"
    ring = b"\\".join(b"%.2f\\%.2f\\3" % (20 * math.cos(a / 50.0), 20 * math.sin(a / 50.0)) for a in range(0, 315))
    many = b"\\".join(b"%d\\%d\\5" % (i % 37 - 18, (i * 7) % 37 - 18) for i in range(5000))
    return {
        "square": rt_structure_set([(1, b"Box ", [(b"CLOSED_PLANAR", square)])]),
        "odd-count": rt_structure_set([(2, b"Odd ", [(b"CLOSED_PLANAR", b"0\\0\\1\\9\\0\\1\\9")])]),
        "not-numbers": rt_structure_set([(3, b"NaN ", [(b"CLOSED_PLANAR", b"NaN\\0\\1\\inf\\0\\1\\9\\9\\1")])]),
        "huge": rt_structure_set([(4, b"Far ", [(b"CLOSED_PLANAR", b"1e308\\0\\1\\0\\5\\1\\1e308\\10\\1")])]),
        "ring-and-many": rt_structure_set([(5, b"Ring", [(b"CLOSED_PLANAR", ring)]),
                                           (6, b"Many", [(b"CLOSED_PLANAR", many)])]),
        "missing-roi": rt_structure_set([(7, b"Lost", [(b"POINT ", b"0\\0\\0")])], undeclared=(7,)),
    }


def pixel_seeds():
    """Small files of every transfer syntax, and what lied to the decoders."""
    names = ["CT_small.dcm", "MR_small.dcm", "MR_small_bigendian.dcm", "MR_small_RLE.dcm", "SC_rgb_rle.dcm",
             "SC_rgb_rle_16bit_2frame.dcm", "SC_rgb_rle_32bit_2frame.dcm", "rtdose_rle_1frame.dcm",
             "MR_small_jpeg_ls_lossless.dcm", "JPEG2000.dcm", "693_J2KI.dcm", "JPEG-lossy.dcm",
             "SC_rgb_jpeg_dcmtk.dcm", "SC_rgb_small_odd_jpeg.dcm", "image_dfl.dcm"]
    seeds = {name: open(os.path.join(PYDICOM, name), "rb").read() for name in names
             if os.path.exists(os.path.join(PYDICOM, name))}
    # JPEG lossless (process 14, selection value 1), made by DCMTK's own encoder when it is there.
    if shutil.which("dcmcjpeg"):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "ll.dcm")
            if subprocess.run(["dcmcjpeg", "+e1", os.path.join(PYDICOM, "MR_small.dcm"), out]).returncode == 0:
                seeds["jpeg-lossless.dcm"] = open(out, "rb").read()
    jpeg = seeds.get("JPEG-lossy.dcm")
    if jpeg:
        seeds["jpeg-100000-frames.dcm"] = jpeg.replace(struct.pack("<HH2sH", 0x0028, 0x0008, b"IS", 2) + b"1 ",
                                                       struct.pack("<HH2sH", 0x0028, 0x0008, b"IS", 6) + b"100000")
        seeds["jpeg-65535-rows.dcm"] = jpeg.replace(struct.pack("<HH2sHH", 0x0028, 0x0010, b"US", 2, 1024),
                                                    struct.pack("<HH2sHH", 0x0028, 0x0010, b"US", 2, 65535))
    seeds["rle-offset-past-data.dcm"] = rle_bad_offset()
    return seeds


def write(folder, files):
    os.makedirs(folder, exist_ok=True)
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def main():
    out = sys.argv[1]
    files = {name: open(os.path.join(PYDICOM, name), "rb").read() for name in SMALL_FILES
             if os.path.exists(os.path.join(PYDICOM, name))}
    files.update(hostile_files())
    write(os.path.join(out, "header"), files)
    write(os.path.join(out, "cache"), files)
    write(os.path.join(out, "json"), json_seeds())
    write(os.path.join(out, "multipart"), multipart_seeds())
    write(os.path.join(out, "dicomdir"), dicomdir_seeds())
    write(os.path.join(out, "pixels"), pixel_seeds())
    write(os.path.join(out, "volume"), volume_seeds())
    write(os.path.join(out, "rtstruct"), rt_seeds())


if __name__ == "__main__":
    main()
