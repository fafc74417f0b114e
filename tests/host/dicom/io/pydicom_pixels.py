#!/usr/bin/python3
"""Writes what pydicom (with its numpy and GDCM pixel handlers) reads from DICOM files.

usage: pydicom_pixels.py OUTDIR FILE...

For each FILE that pydicom decodes, OUTDIR/<file name>.f64 receives the real values (after
rescale, or dose grid scaling for RT dose) as little-endian float64 in frame, row, column,
channel order, with colour as RGB. Files pydicom cannot decode are left out.
"""
import os
import sys
import warnings

warnings.filterwarnings("ignore")
import numpy as np  # noqa: E402
import pydicom  # noqa: E402
from pydicom.pixel_data_handlers.util import apply_modality_lut, convert_color_space  # noqa: E402


def real_values(ds):
    arr = ds.pixel_array
    # Neither the numpy nor the GDCM handler converts YBR to RGB.
    if ds.PhotometricInterpretation in ("YBR_FULL", "YBR_FULL_422"):
        arr = convert_color_space(arr, "YBR_FULL", "RGB")
    if ds.get("SamplesPerPixel", 1) == 1:
        arr = apply_modality_lut(arr, ds).astype(np.float64)
        if ds.get("Modality") == "RTDOSE" and "DoseGridScaling" in ds:
            arr = arr * float(ds.DoseGridScaling)
    return np.ascontiguousarray(arr, dtype="<f8")


def main():
    out = sys.argv[1]
    for path in sys.argv[2:]:
        try:
            values = real_values(pydicom.dcmread(path))
        except Exception:  # pydicom cannot read it: nothing to compare with
            continue
        values.tofile(os.path.join(out, os.path.basename(path) + ".f64"))


if __name__ == "__main__":
    main()
