// Peak memory of making the surface meshes of many RT structures on one CT: the meshing pool
// with one shared grid, against copying the CT for each structure and starting them all at
// once (how the meshes were made before). Each way runs in its own process, so each peak is its
// own.
//
// Usage: bench_rt_mesh_memory [STRUCTURES] [SLICES]     (default 24 structures, 120 slices of 512x512)
#include "host/algorithms/RTStructureToLabelMap.h"
#include "host/data/Mesh.h"
#include "host/data/OwningDataList.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/components/RTStructureDataComponent.h"
#include "rt/RTStructureMesher.h"

#include <QThread>
#include <QtConcurrent/QtConcurrentRun>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

using namespace Dravelin;

namespace {

long statusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return 0;
}

std::unique_ptr<SharedImageSet> makeCt(int slices)
{
    auto image = std::make_unique<SharedImage>(PixelType::Int16, 512, 512, slices);
    auto* v = image->typedData<std::int16_t>();
    for (std::size_t i = 0; i < image->voxelCount(); ++i)
        v[i] = static_cast<std::int16_t>(i % 2000 - 1000);  // touch every page
    image->setSpacing({0.8, 0.8, 2.5});
    image->setImageToWorld(Eigen::Affine3d(Eigen::Translation3d(-204.8, -204.8, 0)));
    return std::make_unique<SharedImageSet>(std::move(image));
}

// Ellipsoids of 64-point axial contours, one per slice they cross, spread over the CT.
std::vector<std::unique_ptr<PointCloud>> makeStructures(int count, int slices)
{
    std::vector<std::unique_ptr<PointCloud>> out;
    const double depth = slices * 2.5;
    for (int s = 0; s < count; ++s) {
        auto rt = std::make_unique<Dicom::RTStructureDataComponent>();
        rt->roiNumber = s + 1;
        const double angle = s * 2 * M_PI / count, ring = 60 + 40 * (s % 3);
        const Eigen::Vector3d centre(ring * std::cos(angle), ring * std::sin(angle), depth / 2);
        const double rx = 15 + 3 * (s % 5), ry = 12 + 2 * (s % 4), rz = std::min(depth / 2 - 5, 30.0 + 5 * (s % 6));
        std::vector<Eigen::Vector3d> points;
        for (double z = centre.z() - rz + 1.25; z < centre.z() + rz; z += 2.5) {
            const double f = std::sqrt(std::max(0.0, 1 - std::pow((z - centre.z()) / rz, 2)));
            std::vector<Eigen::Vector3d> contour;
            for (int k = 0; k < 64; ++k)
                contour.emplace_back(centre.x() + rx * f * std::cos(k * M_PI / 32),
                                     centre.y() + ry * f * std::sin(k * M_PI / 32), z);
            points.insert(points.end(), contour.begin(), contour.end());
            rt->contours.emplace_back(std::move(contour), "CLOSED_PLANAR");
        }
        auto cloud = std::make_unique<PointCloud>(points);
        cloud->addComponent(std::move(rt));
        out.push_back(std::move(cloud));
    }
    return out;
}

Mesh* copyAndMesh(std::shared_ptr<PointCloud> structure, std::shared_ptr<SharedImageSet> reference)
{
    RTStructureToLabelMap algorithm({structure.get()}, reference.get());
    algorithm.outputType = RTStructureToLabelMap::OutputType::Mesh;
    algorithm.compute();
    OwningDataList output = algorithm.takeOutput();
    for (Data* data : output.getAll(Data::KindMesh))
        return static_cast<Mesh*>(output.take(data).release());
    return nullptr;
}

struct Result
{
    double ctMb = 0, beforeMb = 0, peakMb = 0, seconds = 0;
    long triangles = 0;
};

Result run(bool shared, int count, int slices)
{
    Result r;
    auto ct = makeCt(slices);
    const auto structures = makeStructures(count, slices);
    r.ctMb = ct->selected()->byteSize() / 1e6;
    r.beforeMb = statusKb("VmRSS:") / 1e3;
    const auto start = std::chrono::steady_clock::now();
    std::vector<QFuture<Mesh*>> futures;
    if (shared) {
        const auto grid = Dicom::RTStructureMesher::gridOf(*ct->selected());
        for (const auto& s : structures) {
            auto copy = std::make_shared<PointCloud>(s->points());
            copy->addComponent(s->getComponent<Dicom::RTStructureDataComponent>()->clone());
            futures.push_back(Dicom::RTStructureMesher::run(copy, grid));
        }
    } else {
        for (const auto& s : structures) {
            std::shared_ptr<SharedImageSet> volume = ct->clone();
            auto copy = std::make_shared<PointCloud>(s->points());
            copy->addComponent(s->getComponent<Dicom::RTStructureDataComponent>()->clone());
            futures.push_back(QtConcurrent::run(copyAndMesh, copy, volume));
        }
    }
    for (auto& f : futures) {
        std::unique_ptr<Mesh> mesh(f.result());
        r.triangles += mesh ? static_cast<long>(mesh->triangles().size()) : 0;
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.peakMb = statusKb("VmHWM:") / 1e3;
    return r;
}

// Runs one way in a child process and reads its figures back through a pipe.
Result inChild(bool shared, int count, int slices)
{
    int fds[2];
    if (pipe(fds) != 0)
        std::exit(1);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const Result r = run(shared, count, slices);
        const ssize_t written = write(fds[1], &r, sizeof r);
        _exit(written == sizeof r ? 0 : 1);
    }
    close(fds[1]);
    Result r;
    const ssize_t got = read(fds[0], &r, sizeof r);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (got != sizeof r || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the %s run failed\n", shared ? "shared-grid" : "copying");
        std::exit(1);
    }
    return r;
}

}  // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 24;
    const int slices = argc > 2 ? std::max(8, std::atoi(argv[2])) : 120;
    std::printf("%d structures on a 512x512x%d CT, %d cores\n", count, slices, QThread::idealThreadCount());
    const Result before = inChild(false, count, slices);
    const Result after = inChild(true, count, slices);
    for (const auto& [name, r] : {std::pair{"a CT copy per structure, all at once", before},
                                  std::pair{"shared grid, meshing pool        ", after}}) {
        std::printf("  %s: peak %7.1f MB = %5.2f x the CT (%.1f MB; %.1f MB before meshing), %.2f s, %ld triangles\n",
                    name, r.peakMb, r.peakMb / r.ctMb, r.ctMb, r.beforeMb, r.seconds, r.triangles);
    }
    std::printf("  peak ratio (copying / shared; higher is better): %.2f\n", before.peakMb / after.peakMb);
    return after.peakMb <= 2 * after.ctMb ? 0 : 1;
}
