#include "host/app/RawImageIoAlgorithm.h"

#include "host/core/Log.h"
#include "host/data/SharedImage.h"
#include "host/data/SharedImageSet.h"

#include <QFile>
#include <QFileInfo>

#include <climits>

namespace Dravelin {

RawImageIoAlgorithm::RawImageIoAlgorithm(SharedImageSet* image, int ioMode) : IoAlgorithm(ioMode)
{
    if (image || ioMode != Read)
        DRAVELIN_LOG(3, "IO", "Raw images can only be read");
}

RawImageIoAlgorithm::~RawImageIoAlgorithm() = default;

void RawImageIoAlgorithm::compute()
{
    m_output.clear();
    if (ioMode() != Read) {
        setStatus(InvalidInput);
        return;
    }
    QFile file(location());
    if (!file.open(QIODevice::ReadOnly)) {
        DRAVELIN_LOG(4, "IO", QStringLiteral("Could not open %1: %2").arg(location(), file.errorString()));
        setStatus(FileNotFound);
        return;
    }
    const QByteArray bytes = file.readAll();
    const int typeNumber = pixelType.value();
    if (typeNumber < 0 || typeNumber > static_cast<int>(PixelType::RGB)) {
        DRAVELIN_LOG(4, "IO", QStringLiteral("Unknown pixel type %1").arg(typeNumber));
        setStatus(InvalidInput);
        return;
    }
    const auto type = static_cast<PixelType>(typeNumber);
    const std::size_t voxelBytes = bytesPerVoxel(type);
    long long w = width.value(), h = height.value(), s = slices.value();
    if (w <= 0) {
        w = static_cast<long long>(bytes.size() / static_cast<int>(voxelBytes));
        h = s = 1;
    }
    const long long needed = w * h * s * static_cast<long long>(voxelBytes);
    if (w <= 0 || h <= 0 || s <= 0 || w > INT_MAX || needed != bytes.size()) {
        DRAVELIN_LOG(4, "IO",
                     QStringLiteral("%1 holds %2 bytes, not the %3 of a %4 x %5 x %6 image")
                         .arg(location())
                         .arg(bytes.size())
                         .arg(needed)
                         .arg(w)
                         .arg(h)
                         .arg(s));
        setStatus(InvalidInput);
        return;
    }
    std::vector<std::uint8_t> voxels(bytes.begin(), bytes.end());
    auto set = std::make_unique<SharedImageSet>(std::make_unique<SharedImage>(
        type, static_cast<int>(w), static_cast<int>(h), static_cast<int>(s), std::move(voxels)));
    set->setName(QFileInfo(location()).fileName());
    m_output.add(std::move(set));
    setStatus(Success);
}

OwningDataList RawImageIoAlgorithm::takeOutput()
{
    return std::move(m_output);
}

}  // namespace Dravelin
