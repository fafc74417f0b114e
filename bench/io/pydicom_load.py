#!/usr/bin/python3
"""Loads a folder of single-frame slices into one numpy volume of rescaled values, the way a
pydicom user would: read every file, sort by position along the slice normal, stack, rescale."""
import os
import sys

import numpy as np
import pydicom

folder = sys.argv[1]
slices = [pydicom.dcmread(os.path.join(folder, name)) for name in sorted(os.listdir(folder)) if name.endswith(".dcm")]
o = np.array(slices[0].ImageOrientationPatient, dtype=float)
normal = np.cross(o[:3], o[3:])
slices.sort(key=lambda ds: float(np.dot(normal, np.array(ds.ImagePositionPatient, dtype=float))))
volume = np.stack([ds.pixel_array for ds in slices]).astype(np.int16)
volume = volume * float(slices[0].RescaleSlope) + float(slices[0].RescaleIntercept)
print(volume.shape, float(volume.min()), float(volume.max()))
