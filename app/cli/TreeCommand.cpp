#include "app/cli/TreeCommand.h"

#include "app/cli/CommandLine.h"
#include "app/cli/TextFormat.h"
#include "host/core/Url.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/Error.h"
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
    CommandLine cl("tree",
                   "Reads each file as one patient / study / series / image chain, merges the chains and prints\n"
                   "every record field, one line per record. Files that cannot be read are named on stderr.");
    cl.addPositional("FILE", "A DICOM file.", false, true);
    if (const auto status = cl.parse(args))
        return *status;

    // Each dataset is needed once, so a small cache is enough.
    Dicom::DatasetCache cache(16);
    QString reason;  // of the last file that could not be read
    cache.addErrorCallback([&reason](const Dicom::Error& e) {
        // "Cannot read DICOM file 'PATH': why": the line names the file already.
        const QString text = QString::fromStdString(e.message);
        const int end = text.indexOf("': ");
        reason = end < 0 ? text : text.mid(end + 3);
    });
    Dicom::TreeMerger merger;
    std::vector<Dicom::Patient*> patients;
    int unreadable = 0;
    const QStringList files = cl.positionals();
    for (const QString& file : files) {
        const std::shared_ptr<DcmDataset> dataset = cache.loadFromFile(file.toStdString(), nullptr, false);
        if (!dataset) {
            cl.fail(0, "cannot read " + file + (reason.isEmpty() ? "" : ": " + reason));
            reason.clear();
            ++unreadable;
            continue;
        }
        auto* patient = new Dicom::Patient(*dataset, true);
        patient->studies.front()->series.front()->images.front()->location = Filesystem::Url::fromLocalFile(file);
        merger.add(patients, patient);
    }
    merger.finish();

    QTextStream out(stdout);
    TextFormat::printTree(out, patients);
    for (Dicom::Patient* patient : patients)
        delete patient;
    if (unreadable == 0)
        return 0;
    return unreadable == files.size() ? 2 : 1;
}

}  // namespace Dravelin::Cli
