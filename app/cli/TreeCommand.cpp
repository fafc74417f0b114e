#include "app/cli/TreeCommand.h"

#include "app/cli/TextFormat.h"
#include "host/core/Url.h"
#include "host/dicom/DatasetCache.h"
#include "scanning/Image.h"
#include "scanning/Patient.h"
#include "scanning/Series.h"
#include "scanning/Study.h"
#include "scanning/TreeMerger.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>

#include <QTextStream>

#include <memory>

namespace Dravelin::Cli {

int runTreeCommand(const QStringList& args)
{
    QTextStream err(stderr);
    if (args.isEmpty()) {
        err << "usage: dravelin-dicom tree FILE...\n";
        return 2;
    }

    // Each dataset is needed once, so a small cache is enough.
    Dicom::DatasetCache cache(16);
    std::string reason;
    cache.addErrorCallback([&reason](const Dicom::Error& error) { reason = error.text(); });
    Dicom::TreeMerger merger;
    std::vector<Dicom::Patient*> patients;
    for (const QString& file : args) {
        reason.clear();
        const std::shared_ptr<DcmDataset> dataset = cache.loadFromFile(file.toStdString(), nullptr, false);
        if (!dataset) {
            err << (reason.empty() ? "cannot read " + file : QString::fromStdString(reason)) << '\n';
            continue;
        }
        auto* patient = new Dicom::Patient(*dataset, true);
        patient->studies.front()->series.front()->images.front()->location = Filesystem::Url::fromLocalFile(file);
        merger.merge(patients, patient);
    }
    err.flush();

    QTextStream out(stdout);
    TextFormat::printTree(out, patients);
    for (Dicom::Patient* patient : patients)
        delete patient;
    return 0;
}

}  // namespace Dravelin::Cli
