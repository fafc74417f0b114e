#pragma once

#include <memory>

namespace Dravelin {
class Mesh;
class SharedImage;
}  // namespace Dravelin

// The only VTK code of the host, built apart so that VTK's headers stay out of the rest.
namespace Dravelin::LabelMapSurface {

// The boundary surfaces of every non-zero label of a UInt16 label map (discrete flying edges,
// then windowed-sinc smoothing), in world coordinates with outward-facing triangles and
// normals. An empty mesh without labels; null for another voxel type.
std::unique_ptr<Mesh> extract(const SharedImage& labels);

}  // namespace Dravelin::LabelMapSurface
