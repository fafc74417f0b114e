#pragma once

#include <QStringList>

namespace Dravelin::Cli {

// `dravelin-dicom rt-labelmap RTSTRUCT_LOCATION REFERENCE_LOCATION OUT.nrrd [--roi NUMBER,...]
// [--mesh OUT.stl]`: fills the closed contours of an RT structure set on the grid of a reference
// volume and writes the label map (voxel value = ROI number) as NRRD, and optionally the
// surfaces of the labels as STL. Exit status 0 on success, 2 when nothing was written.
int runRtLabelMapCommand(const QStringList& args);

}  // namespace Dravelin::Cli
