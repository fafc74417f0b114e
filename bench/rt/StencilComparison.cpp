// Our even-odd fill against VTK's vtkPolyDataToImageStencil on the same contours (snapped to
// their nearest slice, as the stencil needs contours in slice planes): time of each and the Dice
// of every structure between the two.
//
// Usage: bench_rt_stencil RTSTRUCT_FILE CT_FOLDER [ROUNDS]
#include "host/algorithms/RTStructureToLabelMap.h"
#include "host/data/DataGroup.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/components/RTStructureDataComponent.h"
#include "host/dicom/io/DicomIoAlgorithm.h"

#include <vtkCellArray.h>
#include <vtkImageData.h>
#include <vtkImageStencilData.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataToImageStencil.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

using namespace Dravelin;

namespace {

OwningDataList load(const char* location)
{
    DicomIoAlgorithm reader;
    reader.setLocation(location);
    reader.compute();
    return reader.takeOutput();
}

// The mask of one structure through VTK's stencil.
std::vector<unsigned char> stencilMask(const Dicom::RTStructureDataComponent& rt, const SharedImage& grid)
{
    const Eigen::Affine3d toVoxel = grid.worldToVoxel();
    const Eigen::Vector3d sp = grid.spacing();
    vtkNew<vtkPoints> points;
    vtkNew<vtkCellArray> lines;
    for (const auto& contour : rt.contours) {
        if (contour.geometricType() != "CLOSED_PLANAR" || contour.points().size() < 3)
            continue;
        double z = 0;
        std::vector<Eigen::Vector3d> v;
        for (const auto& p : contour.points()) {
            v.push_back(toVoxel * p);
            z += v.back().z();
        }
        z = std::round(z / v.size());
        const vtkIdType first = points->GetNumberOfPoints();
        for (const auto& p : v)
            points->InsertNextPoint(p.x() * sp.x(), p.y() * sp.y(), z * sp.z());
        lines->InsertNextCell(static_cast<vtkIdType>(v.size() + 1));
        for (std::size_t i = 0; i < v.size(); ++i)
            lines->InsertCellPoint(first + static_cast<vtkIdType>(i));
        lines->InsertCellPoint(first);
    }
    vtkNew<vtkPolyData> poly;
    poly->SetPoints(points);
    poly->SetLines(lines);
    vtkNew<vtkPolyDataToImageStencil> stencil;
    stencil->SetInputData(poly);
    stencil->SetOutputOrigin(0, 0, 0);
    stencil->SetOutputSpacing(sp.x(), sp.y(), sp.z());
    stencil->SetOutputWholeExtent(0, grid.width() - 1, 0, grid.height() - 1, 0, grid.slices() - 1);
    stencil->Update();
    vtkImageStencilData* data = stencil->GetOutput();
    std::vector<unsigned char> mask(grid.voxelCount(), 0);
    for (int z = 0; z < grid.slices(); ++z)
        for (int y = 0; y < grid.height(); ++y) {
            int iter = 0, r1 = 0, r2 = 0;
            while (data->GetNextExtent(r1, r2, 0, grid.width() - 1, y, z, iter))
                for (int x = r1; x <= r2; ++x)
                    mask[(static_cast<std::size_t>(z) * grid.height() + y) * grid.width() + x] = 1;
        }
    return mask;
}

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_rt_stencil RTSTRUCT_FILE CT_FOLDER [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    OwningDataList structureData = load(argv[1]);
    OwningDataList ct = load(argv[2]);
    SharedImageSet* volume = ct.getImage(Data::KindVolume);
    std::vector<const PointCloud*> structures;
    for (Data* d : structureData.getAll())
        if (auto* group = dynamic_cast<DataGroup*>(d))
            for (Data* child : group->descendants())
                if (child->hasComponent<Dicom::RTStructureDataComponent>())
                    structures.push_back(static_cast<PointCloud*>(child));
    if (!volume || structures.empty()) {
        std::fprintf(stderr, "nothing to compare\n");
        return 2;
    }
    const SharedImage& grid = *volume->get(0);
    std::vector<double> ours, theirs;
    double lowest = 1.0;
    for (int round = 0; round < rounds; ++round) {
        // Timed as the algorithm runs: every structure into one label map.
        auto start = std::chrono::steady_clock::now();
        const auto all = RTStructureToLabelMap::rasterize(structures, grid);
        ours.push_back(seconds(start));
        start = std::chrono::steady_clock::now();
        std::vector<std::vector<unsigned char>> masks;
        for (const PointCloud* s : structures)
            masks.push_back(stencilMask(*s->getComponent<Dicom::RTStructureDataComponent>(), grid));
        theirs.push_back(seconds(start));
        if (round > 0)
            continue;
        // Compared structure by structure, where overlaps cannot hide voxels.
        std::vector<std::unique_ptr<SharedImage>> labels;
        for (const PointCloud* s : structures)
            labels.push_back(RTStructureToLabelMap::rasterize({s}, grid));
        for (std::size_t i = 0; i < structures.size(); ++i) {
            const auto* v = labels[i]->typedData<std::uint16_t>();
            std::size_t a = 0, b = 0, both = 0;
            for (std::size_t k = 0; k < grid.voxelCount(); ++k) {
                a += v[k] != 0;
                b += masks[i][k];
                both += v[k] != 0 && masks[i][k];
            }
            const double dice = a + b ? 2.0 * both / double(a + b) : 1.0;
            lowest = std::min(lowest, dice);
            if (structures.size() <= 10)
                std::printf("  %-20s voxels %8zu vs %8zu  Dice %.4f\n", qPrintable(structures[i]->name()), a, b, dice);
        }
    }
    std::sort(ours.begin(), ours.end());
    std::sort(theirs.begin(), theirs.end());
    const double a = ours[ours.size() / 2], b = theirs[theirs.size() / 2];
    std::printf(
        "  %zu structures: even-odd fill %.4f s, vtkPolyDataToImageStencil %.4f s (stencil / ours %.2f), "
        "lowest Dice %.4f\n",
        structures.size(), a, b, a > 0 ? b / a : 0.0, lowest);
    return 0;
}
