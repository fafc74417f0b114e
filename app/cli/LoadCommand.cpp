#include "app/cli/LoadCommand.h"

#include "app/cli/CommandLine.h"
#include "app/cli/HttpOptions.h"
#include "app/cli/QuietLog.h"
#include "app/cli/TextFormat.h"
#include "host/data/DataGroup.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/components/IrregularSpacingDataComponent.h"
#include "host/dicom/components/RTStructureDataComponent.h"
#include "host/dicom/components/TagStoreDataComponent.h"
#include "host/dicom/io/DicomIoAlgorithm.h"
#include "host/dicom/io/SharedImageConversion.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>

#include <cstdio>

namespace Dravelin::Cli {

namespace {

struct ImageSummary
{
    QString kind;
    int width = 0, height = 0, slices = 0;
    Eigen::Vector3d spacing;
    Eigen::Matrix4d imageToWorld;
    QString voxelType;
    Dicom::VolumeStatistics values;
    QStringList instances;
};

// The SOP Instance UIDs of the frames of image `index` (frames run on image after image).
QStringList instancesOf(const SharedImageSet& set, int index)
{
    QStringList uids;
    const auto* store = set.getComponent<Dicom::TagStoreDataComponent>();
    if (!store)
        return uids;
    int first = 0;
    for (int i = 0; i < index; ++i)
        first += set.get(i)->slices();
    for (int k = 0; k < set.get(index)->slices(); ++k) {
        const auto dataset = store->dataset(first + k);
        OFString uid;
        if (dataset)
            dataset->findAndGetOFString(DCM_SOPInstanceUID, uid);
        const QString text = QString::fromUtf8(uid.c_str());
        if (uids.isEmpty() || uids.back() != text)  // the frames of one multi-frame instance
            uids << text;
    }
    return uids;
}

ImageSummary summarise(const SharedImageSet& set, int index)
{
    const SharedImage& image = *set.get(index);
    ImageSummary s;
    s.kind = image.slices() > 1 ? QStringLiteral("volume") : QStringLiteral("image");
    s.width = image.width();
    s.height = image.height();
    s.slices = image.slices();
    s.spacing = image.spacing();
    s.imageToWorld = image.voxelToWorld().matrix();
    s.voxelType = pixelTypeName(image.pixelType());
    s.values = Dicom::imageStatistics(image);
    s.instances = instancesOf(set, index);
    return s;
}

QJsonArray matrixJson(const Eigen::Matrix4d& m)
{
    QJsonArray rows;
    for (int r = 0; r < 4; ++r)
        rows.append(QJsonArray{m(r, 0), m(r, 1), m(r, 2), m(r, 3)});
    return rows;
}

QString number(double v)
{
    return QString::number(v, 'g', 10);
}

}  // namespace

int runLoadCommand(const QStringList& args)
{
    CommandLine cl("load",
                   "Loads a location with its pixels and prints each image set: per image its size, spacing,\n"
                   "image-to-world matrix, voxel type, the minimum, maximum and mean of the rescaled values and\n"
                   "the SOP Instance UIDs of its instances; RT structure sets with their regions.\n"
                   "Unevenly spaced slices are resampled onto a regular grid (or split into regular parts,\n"
                   "as the DICOM settings say), with a warning on stderr and \"irregularSpacing\" in JSON.");
    cl.addPositional("LOCATION",
                     "A location string as the browser makes it: files, folders with sub-queries,\n"
                     "pacs:// and DICOMweb URLs, joined by \"##\".");
    cl.addFlag("json", "Print one JSON document {\"imageSets\": [...], \"structureSets\": [...]} instead of text.");
    addHttpTimeoutOption(cl);
    if (const auto status = cl.parse(args))
        return *status;
    if (!applyHttpTimeoutOption(cl))
        return cl.usageError();
    const bool json = cl.isSet("json");
    QuietLog quiet;  // the algorithm's errors are printed once below

    DicomIoAlgorithm algorithm;
    algorithm.setLocation(cl.positionals().front());
    algorithm.compute();
    OwningDataList output = algorithm.takeOutput();
    int fatal = 0;
    for (const Dicom::Error& e : algorithm.caughtErrors())
        if (e.type == Dicom::Error::Fatal) {
            cl.fail(0, QString::fromStdString(e.message));
            ++fatal;
        } else if (e.type == Dicom::Error::Warning) {
            cl.fail(0, "warning: " + QString::fromStdString(e.message));
        }
    if (output.empty()) {
        if (fatal == 0)
            cl.fail(0, "the location holds no image or structure set");
        return 2;
    }

    QJsonArray setsJson, structuresJson;
    QTextStream out(stdout);
    int setNumber = 0;
    for (std::size_t i = 0; i < output.size(); ++i) {
        if (const auto* group = dynamic_cast<const DataGroup*>(output[i])) {
            QJsonArray regions;
            if (!json)
                out << "Structure set " << TextFormat::printable(group->name()) << ":\n";
            for (const auto& child : group->children()) {
                const auto* rt = child->getComponent<Dicom::RTStructureDataComponent>();
                const auto* cloud = dynamic_cast<const PointCloud*>(child.get());
                if (!rt || !cloud)
                    continue;
                const int contours = static_cast<int>(rt->contours.size());
                regions.append(QJsonObject{{"number", rt->roiNumber},
                                           {"name", QString::fromStdString(rt->roiName)},
                                           {"contours", contours},
                                           {"points", cloud->size()}});
                if (!json)
                    out << "  " << rt->roiNumber << ' ' << TextFormat::printable(QString::fromStdString(rt->roiName))
                        << ": " << contours << " contours, " << cloud->size() << " points\n";
            }
            structuresJson.append(QJsonObject{{"name", group->name()}, {"regions", regions}});
            continue;
        }
        const auto* set = dynamic_cast<const SharedImageSet*>(output[i]);
        if (!set)
            continue;
        QJsonArray images;
        if (!json)
            out << "Image set " << ++setNumber << ": " << TextFormat::printable(set->name()) << '\n';
        if (!json && !set->note().isEmpty())
            out << "  note: " << TextFormat::printable(set->note()) << '\n';
        for (int k = 0; k < set->size(); ++k) {
            const ImageSummary s = summarise(*set, k);
            images.append(QJsonObject{{"kind", s.kind},
                                      {"width", s.width},
                                      {"height", s.height},
                                      {"slices", s.slices},
                                      {"spacing", QJsonArray{s.spacing.x(), s.spacing.y(), s.spacing.z()}},
                                      {"imageToWorld", matrixJson(s.imageToWorld)},
                                      {"voxelType", s.voxelType},
                                      {"minimum", s.values.minimum},
                                      {"maximum", s.values.maximum},
                                      {"mean", s.values.mean},
                                      {"instances", QJsonArray::fromStringList(s.instances)}});
            if (json)
                continue;
            out << "  " << s.kind << ' ' << s.width << 'x' << s.height << ", " << s.slices << " slices, spacing "
                << number(s.spacing.x()) << ' ' << number(s.spacing.y()) << ' ' << number(s.spacing.z()) << ", "
                << s.voxelType << '\n';
            out << "  values: minimum " << number(s.values.minimum) << ", maximum " << number(s.values.maximum)
                << ", mean " << number(s.values.mean) << '\n';
            out << "  image to world:";
            for (int r = 0; r < 3; ++r)
                out << (r ? " |" : "") << ' ' << number(s.imageToWorld(r, 0)) << ' ' << number(s.imageToWorld(r, 1))
                    << ' ' << number(s.imageToWorld(r, 2)) << ' ' << number(s.imageToWorld(r, 3));
            out << '\n';
            for (const QString& uid : s.instances)
                out << "    " << TextFormat::printable(uid) << '\n';
        }
        QJsonObject setJson{
            {"name", set->name()}, {"modality", Data::modalityName(set->modality())}, {"images", images}};
        if (const auto* irregular = set->getComponent<Dicom::IrregularSpacingDataComponent>()) {
            const Dicom::IrregularSpacing& spacing = irregular->spacing();
            QJsonObject j{{"maxDeviationMm", spacing.maxDeviationMm}};
            if (spacing.parts > 0) {
                j.insert("part", spacing.part);
                j.insert("parts", spacing.parts);
            } else {
                j.insert("resampledStepMm", spacing.resampledStepMm);
            }
            setJson.insert("irregularSpacing", j);
        }
        setsJson.append(setJson);
    }
    if (json) {
        const QByteArray bytes =
            QJsonDocument(QJsonObject{{"imageSets", setsJson}, {"structureSets", structuresJson}}).toJson();
        std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    }
    out.flush();
    std::fflush(stdout);
    return fatal > 0 ? 1 : 0;
}

}  // namespace Dravelin::Cli
