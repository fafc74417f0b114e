#include "app/cli/RtLabelMapCommand.h"

#include "app/cli/CommandLine.h"
#include "app/cli/LabelMapFiles.h"
#include "app/cli/QuietLog.h"
#include "host/algorithms/RTStructureToLabelMap.h"
#include "host/data/DataGroup.h"
#include "host/data/Mesh.h"
#include "host/data/PointCloud.h"
#include "host/data/SharedImageSet.h"
#include "host/dicom/components/RTStructureDataComponent.h"
#include "host/dicom/io/DicomIoAlgorithm.h"

#include <set>

namespace Dravelin::Cli {

namespace {

void collectStructures(Data* data, std::vector<PointCloud*>& out)
{
    if (auto* cloud = dynamic_cast<PointCloud*>(data); cloud && cloud->hasComponent<Dicom::RTStructureDataComponent>())
        out.push_back(cloud);
    if (auto* group = dynamic_cast<DataGroup*>(data))
        for (const auto& child : group->children())
            collectStructures(child.get(), out);
}

// Loads a location; the first fatal error (if any) goes to `error`, warnings (a grid the
// reader had to make regular) to stderr at once.
OwningDataList load(const CommandLine& cl, const QString& location, QString& error)
{
    DicomIoAlgorithm reader;
    reader.setLocation(location);
    reader.compute();
    for (const Dicom::Error& e : reader.caughtErrors())
        if (e.type == Dicom::Error::Fatal && error.isEmpty())
            error = QString::fromStdString(e.message);
        else if (e.type == Dicom::Error::Warning)
            cl.fail(0, "warning: " + QString::fromStdString(e.message));
    return reader.takeOutput();
}

}  // namespace

int runRtLabelMapCommand(const QStringList& args)
{
    CommandLine cl("rt-labelmap",
                   "Fills the closed contours of an RT structure set on the grid of a reference volume and\n"
                   "writes the label map as NRRD: each voxel holds the number of the ROI whose contours\n"
                   "contain its centre (0 outside; a later ROI wins where ROIs overlap). Contours between\n"
                   "slices go to the nearest slice; nested contours alternate between inside and outside.\n"
                   "A ROI that puts no voxel into the map is named on stderr with the reason; exit 1 when\n"
                   "it was asked for with --roi or has closed contours, 2 when no ROI puts a voxel.");
    cl.addPositional("RTSTRUCT_LOCATION", "The RT structure set: a file or a location string.");
    cl.addPositional("REFERENCE_LOCATION",
                     "The volume whose grid the label map takes: a folder, files or a location string.");
    cl.addPositional("OUT.nrrd", "The label map to write.");
    cl.addValue("roi", "NUMBER,...", "Convert only these ROI numbers (default: all).");
    cl.addValue("mesh", "OUT.stl", "Also write the smoothed surfaces of the labels as binary STL.");
    if (const auto status = cl.parse(args))
        return *status;
    std::vector<int> rois;
    for (const QString& piece : cl.list("roi")) {
        bool ok = false;
        const int n = piece.toInt(&ok);
        if (!ok) {
            cl.reject("--roi: '" + piece + "' is not a ROI number");
            break;
        }
        rois.push_back(n);
    }
    if (cl.failed())
        return cl.usageError();
    const QStringList positionals = cl.positionals();
    QuietLog quiet;  // reasons are printed once below

    QString error;
    OwningDataList structureData = load(cl, positionals[0], error);
    std::vector<PointCloud*> structures;
    for (std::size_t i = 0; i < structureData.size(); ++i)
        collectStructures(structureData[i], structures);
    if (structures.empty())
        return cl.fail(2,
                       positionals[0] + ": no RT structure set" + (error.isEmpty() ? QString() : " (" + error + ")"));
    std::set<int> available;
    for (PointCloud* s : structures)
        available.insert(s->getComponent<Dicom::RTStructureDataComponent>()->roiNumber);
    for (int n : rois)
        if (!available.count(n))
            return cl.fail(2, QStringLiteral("ROI %1 is not in the structure set").arg(n));

    error.clear();
    OwningDataList referenceData = load(cl, positionals[1], error);
    SharedImageSet* reference = referenceData.getImage(Data::KindVolume);
    if (!reference)
        return cl.fail(2, positionals[1] + ": no volume" + (error.isEmpty() ? QString() : " (" + error + ")"));

    RTStructureToLabelMap algorithm(structures, reference);
    algorithm.roiNumbers = rois;
    algorithm.outputType = cl.isSet("mesh") ? RTStructureToLabelMap::OutputType::LabelMapAndMesh
                                            : RTStructureToLabelMap::OutputType::LabelMap;
    algorithm.compute();
    OwningDataList output = algorithm.takeOutput();
    SharedImageSet* labels = output.getImage();
    if (algorithm.status() != Algorithm::Success || !labels)
        return cl.fail(2, "the label map could not be made" +
                              (quiet.firstMessage().isEmpty() ? QString() : ": " + quiet.firstMessage()));

    // Every ROI that is not in the map as its own number gets a line. One asked for by number, or
    // one with closed contours, is missing from the result; a marker or an empty ROI is not.
    const auto note = [&cl](const QString& line) { cl.fail(0, line); };  // the prefix of every message
    bool missing = false;
    std::size_t written = 0;
    for (const RTStructureToLabelMap::RoiOutcome& o : algorithm.outcomes()) {
        const QString roi = QStringLiteral("ROI %1 '%2'").arg(o.roiNumber).arg(QString::fromStdString(o.roiName));
        written += o.voxels;
        if (o.voxels == 0) {
            note(roi + ": nothing written, " + QString::fromStdString(o.whyEmpty));
            missing = missing || o.fillable || !rois.empty();
        } else if (o.label != o.roiNumber) {
            note(roi +
                 QStringLiteral(" is written as label %1 (labels run from 1 to 65535, one per ROI)").arg(o.label));
        }
    }
    if (written == 0)
        return cl.fail(2, positionals[2] + " not written: no ROI puts a voxel into the label map");
    QString writeError;
    if (!writeNrrd(*labels->get(0), positionals[2], writeError))
        return cl.fail(2, writeError);
    if (cl.isSet("mesh")) {
        Mesh* mesh = nullptr;
        for (Data* d : output.getAll(Data::KindMesh))
            mesh = static_cast<Mesh*>(d);
        if (!mesh || !writeStl(*mesh, cl.value("mesh"), writeError))
            return cl.fail(2, writeError.isEmpty() ? QStringLiteral("no mesh was made") : writeError);
    }
    return missing ? 1 : 0;
}

}  // namespace Dravelin::Cli
