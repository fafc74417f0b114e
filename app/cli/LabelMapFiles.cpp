#include "app/cli/LabelMapFiles.h"

#include "host/core/AtomicFile.h"
#include "host/data/Mesh.h"
#include "host/data/SharedImage.h"

#include <QtEndian>

#include <cstring>

namespace Dravelin::Cli {

namespace {

QString vectorText(const Eigen::Vector3d& v)
{
    return QStringLiteral("(%1,%2,%3)").arg(v.x(), 0, 'g', 17).arg(v.y(), 0, 'g', 17).arg(v.z(), 0, 'g', 17);
}

bool commit(AtomicFile& file, const QString& path, QString& error)
{
    if (file.commit())
        return true;
    error = path + ": " + file.reason();
    return false;
}

void appendFloat(QByteArray& out, double value)
{
    const float f = static_cast<float>(value);
    quint32 bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    bits = qToLittleEndian(bits);
    out.append(reinterpret_cast<const char*>(&bits), sizeof bits);
}

}  // namespace

bool writeNrrd(const SharedImage& labels, const QString& path, QString& error)
{
    const auto* voxels = labels.typedData<std::uint16_t>();
    if (!voxels) {
        error = path + ": the label map does not hold unsigned short voxels";
        return false;
    }
    AtomicFile file(path);
    if (!file.open()) {
        error = path + ": " + file.reason();
        return false;
    }
    const Eigen::Affine3d toWorld = labels.voxelToWorld();
    QString header = QStringLiteral(
        "NRRD0004\n"
        "type: unsigned short\n"
        "dimension: 3\n"
        "space: left-posterior-superior\n");
    header += QStringLiteral("sizes: %1 %2 %3\n").arg(labels.width()).arg(labels.height()).arg(labels.slices());
    header += QStringLiteral("space directions: %1 %2 %3\n")
                  .arg(vectorText(toWorld.linear().col(0)), vectorText(toWorld.linear().col(1)),
                       vectorText(toWorld.linear().col(2)));
    header += QStringLiteral("kinds: domain domain domain\nendian: little\nencoding: raw\n");
    header += QStringLiteral("space origin: %1\n\n").arg(vectorText(toWorld.translation()));
    file.write(header.toLatin1());
    if (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
        file.write(voxels, labels.byteSize());
    } else {
        QByteArray swapped(static_cast<int>(labels.byteSize()), Qt::Uninitialized);
        qToLittleEndian<quint16>(voxels, static_cast<qsizetype>(labels.voxelCount()), swapped.data());
        file.write(swapped);
    }
    return commit(file, path, error);
}

bool writeStl(const Mesh& mesh, const QString& path, QString& error)
{
    AtomicFile file(path);
    if (!file.open()) {
        error = path + ": " + file.reason();
        return false;
    }
    QByteArray out(80, '\0');
    out.replace(0, 21, "dravelin-dicom labels");
    const quint32 count = qToLittleEndian(static_cast<quint32>(mesh.triangles().size()));
    out.append(reinterpret_cast<const char*>(&count), sizeof count);
    out.reserve(out.size() + static_cast<int>(mesh.triangles().size()) * 50);
    const auto& v = mesh.vertices();
    for (const Eigen::Vector3i& t : mesh.triangles()) {
        const Eigen::Vector3d& a = v[static_cast<std::size_t>(t[0])];
        const Eigen::Vector3d& b = v[static_cast<std::size_t>(t[1])];
        const Eigen::Vector3d& c = v[static_cast<std::size_t>(t[2])];
        const Eigen::Vector3d n = (b - a).cross(c - a).normalized();
        for (const Eigen::Vector3d& p : {n, a, b, c})
            for (int i = 0; i < 3; ++i)
                appendFloat(out, p[i]);
        out.append(2, '\0');
    }
    file.write(out);
    return commit(file, path, error);
}

}  // namespace Dravelin::Cli
