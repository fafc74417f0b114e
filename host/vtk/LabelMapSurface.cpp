#include "host/vtk/LabelMapSurface.h"

#include "host/data/Mesh.h"
#include "host/data/SharedImage.h"

#include <vtkCellArray.h>
#include <vtkDiscreteFlyingEdges3D.h>
#include <vtkIdList.h>
#include <vtkImageData.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkUnsignedShortArray.h>
#include <vtkWindowedSincPolyDataFilter.h>

#include <algorithm>
#include <set>

namespace Dravelin::LabelMapSurface {

std::unique_ptr<Mesh> extract(const SharedImage& labels)
{
    const std::uint16_t* voxels = labels.typedData<std::uint16_t>();
    if (!voxels)
        return nullptr;
    const int w = labels.width(), h = labels.height(), s = labels.slices();
    std::set<std::uint16_t> present;
    for (std::size_t i = 0; i < labels.voxelCount(); ++i)
        if (voxels[i])
            present.insert(voxels[i]);
    auto mesh = std::make_unique<Mesh>();
    if (present.empty())
        return mesh;

    // One voxel of background all round, so that structures touching the border are closed.
    vtkNew<vtkImageData> image;
    image->SetDimensions(w + 2, h + 2, s + 2);
    const Eigen::Vector3d& sp = labels.spacing();
    image->SetSpacing(sp.x(), sp.y(), sp.z());
    image->SetOrigin(-sp.x(), -sp.y(), -sp.z());
    vtkNew<vtkUnsignedShortArray> scalars;
    scalars->SetNumberOfTuples(static_cast<vtkIdType>(w + 2) * (h + 2) * (s + 2));
    scalars->FillValue(0);
    for (int z = 0; z < s; ++z)
        for (int y = 0; y < h; ++y) {
            const std::uint16_t* row =
                voxels + (static_cast<std::size_t>(z) * static_cast<std::size_t>(h) + static_cast<std::size_t>(y)) *
                             static_cast<std::size_t>(w);
            const vtkIdType base = (static_cast<vtkIdType>(z + 1) * (h + 2) + (y + 1)) * (w + 2) + 1;
            std::copy(row, row + w, scalars->GetPointer(base));
        }
    image->GetPointData()->SetScalars(scalars);

    vtkNew<vtkDiscreteFlyingEdges3D> surfaces;
    surfaces->SetInputData(image);
    int index = 0;
    for (std::uint16_t label : present)
        surfaces->SetValue(index++, label);
    surfaces->ComputeNormalsOff();
    surfaces->ComputeGradientsOff();
    surfaces->ComputeScalarsOff();

    vtkNew<vtkWindowedSincPolyDataFilter> smooth;
    smooth->SetInputConnection(surfaces->GetOutputPort());
    smooth->SetNumberOfIterations(15);
    smooth->SetPassBand(0.1);
    smooth->BoundarySmoothingOff();
    smooth->FeatureEdgeSmoothingOff();
    smooth->NonManifoldSmoothingOn();
    smooth->NormalizeCoordinatesOn();
    smooth->Update();
    vtkPolyData* poly = smooth->GetOutput();

    const Eigen::Affine3d& toWorld = labels.imageToWorld();
    vtkPoints* points = poly->GetPoints();
    const vtkIdType pointCount = points ? points->GetNumberOfPoints() : 0;
    mesh->vertices().reserve(static_cast<std::size_t>(pointCount));
    for (vtkIdType i = 0; i < pointCount; ++i) {
        double p[3];
        points->GetPoint(i, p);
        mesh->vertices().push_back(toWorld * Eigen::Vector3d(p[0], p[1], p[2]));
    }
    vtkCellArray* polys = poly->GetPolys();
    vtkNew<vtkIdList> cell;
    for (polys->InitTraversal(); polys->GetNextCell(cell);) {
        if (cell->GetNumberOfIds() != 3)
            continue;
        mesh->triangles().emplace_back(static_cast<int>(cell->GetId(0)), static_cast<int>(cell->GetId(1)),
                                       static_cast<int>(cell->GetId(2)));
    }
    // Outward-facing triangles: a closed surface then encloses a positive volume.
    double signedVolume = 0.0;
    for (const Eigen::Vector3i& t : mesh->triangles())
        signedVolume += mesh->vertices()[static_cast<std::size_t>(t[0])].dot(
            mesh->vertices()[static_cast<std::size_t>(t[1])].cross(mesh->vertices()[static_cast<std::size_t>(t[2])]));
    if (signedVolume < 0.0)
        for (Eigen::Vector3i& t : mesh->triangles())
            std::swap(t[1], t[2]);
    mesh->computeNormals();
    return mesh;
}

}  // namespace Dravelin::LabelMapSurface
