#!/usr/bin/python3
"""Writes PHI-rich DICOM files and lists the identifying values left in de-identified copies.

  phi_files.py write TABLE.tsv OUTDIR COUNT   every table attribute pydicom knows, with a marker
  phi_files.py check DIR                      attributes (any nesting level) still holding one
"""
import os
import sys
import warnings

import pydicom
from pydicom.datadict import dictionary_VR, keyword_for_tag
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.sequence import Sequence
from pydicom.uid import ExplicitVRLittleEndian, generate_uid

TEXT = "PHIMARK"
UID_ROOT = "1.2.3.999."
MARKERS = (TEXT, "19770707", "121314", UID_ROOT)


def marker(vr, n):
    if vr in ("AE", "CS"):
        return f"{TEXT}{n}"
    if vr == "AS":
        return "077Y"
    if vr == "DA":
        return "19770707"
    if vr == "DT":
        return "19770707121314"
    if vr == "TM":
        return "121314"
    if vr == "PN":
        return f"{TEXT}^{n}"
    if vr in ("LO", "LT", "SH", "ST", "UT", "UC"):
        return f"{TEXT} {n}"
    if vr == "UR":
        return f"http://{TEXT}.example/{n}"
    if vr == "UI":
        return f"{UID_ROOT}100.{n}"
    if vr in ("OB", "UN"):
        return (TEXT + "!").encode()
    return None


def phi_dataset(rows, index):
    ds = Dataset()
    for n, tag in enumerate(rows):
        try:
            vr = dictionary_VR(tag).split(" or ")[0]
        except KeyError:
            continue
        if vr == "SQ":
            item = Dataset()
            item.PatientName = f"{TEXT}^nested{n}"
            item.PatientID = f"{TEXT}id{n}"
            # attributes the table does not name, as in code items and report content
            item.CodeMeaning = f"{TEXT} meaning {n}"
            item.TextValue = f"{TEXT} report text {n}"
            ds.add_new(tag, vr, Sequence([item]))
            continue
        value = marker(vr, n)
        if value is not None:
            ds.add_new(tag, vr, value)
    ds.SOPClassUID = "1.2.840.10008.5.1.4.1.1.2"
    ds.SOPInstanceUID = f"{UID_ROOT}3.{index}"
    ds.StudyInstanceUID = f"{UID_ROOT}1"
    ds.SeriesInstanceUID = f"{UID_ROOT}2"
    ds.Modality = "CT"
    ds.add_new(0x00090010, "LO", f"ACME {TEXT} CREATOR")
    ds.add_new(0x00091001, "LO", f"{TEXT} private value")
    ds.add_new(0x60023000, "OW", b"PHIMARK!")
    ds.Rows, ds.Columns, ds.SamplesPerPixel = 4, 4, 1
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 16, 15, 0
    ds.PhotometricInterpretation = "MONOCHROME2"
    ds.PixelData = bytes(range(32))
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = ds.SOPClassUID
    meta.MediaStorageSOPInstanceUID = ds.SOPInstanceUID
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    meta.ImplementationClassUID = generate_uid()
    ds.file_meta = meta
    ds.is_little_endian, ds.is_implicit_VR = True, False
    return ds


def rows_of(table):
    rows = []
    with open(table, encoding="utf-8") as f:
        next(f)
        for line in f:
            text = line.split("\t")[0]
            if "x" in text or "g" in text:
                continue  # repeating-group and private rows
            tag = int(text[1:5] + text[6:10], 16)
            if tag >> 16 not in (0x0000, 0x0002):
                rows.append(tag)
    return rows


def leftovers(ds, path=""):
    for elem in ds:
        if elem.tag == 0x7FE00010:
            continue
        if elem.VR == "SQ":
            for item in elem.value:
                yield from leftovers(item, f"{path}{keyword_for_tag(elem.tag) or elem.tag}>")
            continue
        value = elem.value
        text = value.decode("latin-1") if isinstance(value, bytes) else str(value)
        if any(m in text for m in MARKERS):
            yield f"{path}{keyword_for_tag(elem.tag) or str(elem.tag)}"


def main():
    warnings.simplefilter("ignore")
    if len(sys.argv) == 5 and sys.argv[1] == "write":
        rows = rows_of(sys.argv[2])
        os.makedirs(sys.argv[3], exist_ok=True)
        for i in range(int(sys.argv[4])):
            phi_dataset(rows, i).save_as(os.path.join(sys.argv[3], f"phi{i}.dcm"), write_like_original=False)
        return 0
    if len(sys.argv) == 3 and sys.argv[1] == "check":
        found = set()
        for root, _, files in os.walk(sys.argv[2]):
            for name in files:
                found.update(leftovers(pydicom.dcmread(os.path.join(root, name), force=True)))
        for name in sorted(found):
            print(name)
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
