#pragma once

#include <QStringList>

namespace Dravelin::Cli {

// `dravelin-dicom rt-labelmap RTSTRUCT_LOCATION REFERENCE_LOCATION OUT.nrrd [--roi NUMBER,...]
// [--mesh OUT.stl]`: fills the closed contours of an RT structure set on the grid of a reference
// volume and writes the label map (voxel value = ROI number) as NRRD, and optionally the
// surfaces of the labels as STL. Every ROI that puts no voxel into the map is named on stderr
// with the reason. Exit status 0 on success, 1 when a ROI asked for by number, or one with closed
// contours, put no voxel into the written map, 2 when nothing was written.
int runRtLabelMapCommand(const QStringList& args);

}  // namespace Dravelin::Cli
