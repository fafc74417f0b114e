#pragma once

#include <QString>

namespace Dravelin {
class Mesh;
class SharedImage;
}  // namespace Dravelin

namespace Dravelin::Cli {

// A label map as NRRD (raw, little endian, unsigned short voxels) with its geometry in the
// header: patient (left-posterior-superior) space, the voxel axes as space directions and the
// first voxel's centre as the space origin. Written whole or not at all; false on failure with
// the reason in `error`.
bool writeNrrd(const SharedImage& labels, const QString& path, QString& error);

// A triangle mesh as binary STL, written whole or not at all.
bool writeStl(const Mesh& mesh, const QString& path, QString& error);

}  // namespace Dravelin::Cli
