// Merges the chains of a 20,000-image scan (one patient -> study -> series -> image chain per
// instance, as a folder scan delivers them) once with the plain merge the scanner uses and once
// into the browser model with its row notifications, and prints both times and their ratio.
#include "bench/BenchRounds.h"
#include "browser/models/DicomBrowserModel.h"
#include "scanning/TreeMerger.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

using namespace Dravelin;
using namespace Dravelin::Dicom;

namespace {

std::vector<Patient*> makeChains(int patients, int studies, int series, int images, unsigned seed)
{
    std::vector<Patient*> chains;
    DcmDataset ds;
    for (int p = 0; p < patients; ++p)
        for (int st = 0; st < studies; ++st)
            for (int se = 0; se < series; ++se)
                for (int i = 1; i <= images; ++i) {
                    const QByteArray series = QByteArray("1.2.826.0.1.") + QByteArray::number(p) + "." +
                                              QByteArray::number(st) + "." + QByteArray::number(se);
                    ds.putAndInsertString(DCM_PatientID, QByteArray("PAT") + QByteArray::number(p));
                    ds.putAndInsertString(DCM_PatientName, QByteArray("DOE^") + QByteArray::number(p));
                    ds.putAndInsertString(DCM_StudyInstanceUID, QByteArray("1.2.826.0.1.") + QByteArray::number(p) +
                                                                    "." + QByteArray::number(st));
                    ds.putAndInsertString(DCM_SeriesInstanceUID, series);
                    ds.putAndInsertString(DCM_SeriesNumber, QByteArray::number(se + 1));
                    ds.putAndInsertString(DCM_SOPInstanceUID, series + "." + QByteArray::number(i));
                    ds.putAndInsertString(DCM_InstanceNumber, QByteArray::number(i));
                    ds.putAndInsertString(DCM_ImagePositionPatient, "0\\0\\" + QByteArray::number(i * 1.25));
                    ds.putAndInsertString(DCM_ImageOrientationPatient, "1\\0\\0\\0\\1\\0");
                    ds.putAndInsertString(DCM_PixelSpacing, "0.5\\0.5");
                    ds.putAndInsertString(DCM_Rows, "128");
                    ds.putAndInsertString(DCM_Columns, "128");
                    chains.push_back(new Patient(ds, true));
                }
    // Threads finish files out of order; shuffle within a fixed seed.
    std::mt19937 rng(seed);
    std::shuffle(chains.begin(), chains.end(), rng);
    return chains;
}

double mergePlain(int patients, int studies, int series, int images)
{
    auto chains = makeChains(patients, studies, series, images, 1);
    std::vector<Patient*> merged;
    TreeMerger merger;
    QElapsedTimer timer;
    timer.start();
    for (Patient* p : chains)
        merger.merge(merged, p);
    const double ms = timer.nsecsElapsed() / 1e6;
    for (Patient* p : merged)
        delete p;
    return ms;
}

double mergeModel(int patients, int studies, int series, int images, long long* notifications)
{
    auto chains = makeChains(patients, studies, series, images, 1);
    DicomBrowserModel model(nullptr);
    long long count = 0;
    QObject::connect(&model, &QAbstractItemModel::rowsInserted, [&count] { ++count; });
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&count] { ++count; });
    QElapsedTimer timer;
    timer.start();
    for (Patient* p : chains)
        model.addPatient(p);
    const double ms = timer.nsecsElapsed() / 1e6;
    *notifications = count;
    return ms;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    BenchRounds::printLoad("before");
    const int patients = 10, studies = 2, series = 10, images = 100;
    const int total = patients * studies * series * images;
    const int rounds = BenchRounds::count();
    std::vector<double> plain, model;
    long long notifications = 0;
    for (int r = 0; r < rounds; ++r) {
        plain.push_back(mergePlain(patients, studies, series, images));
        model.push_back(mergeModel(patients, studies, series, images, &notifications));
    }
    const double p = BenchRounds::median(plain), m = BenchRounds::median(model);
    std::printf("chains merged:            %d (%d patients x %d studies x %d series x %d images)\n", total, patients,
                studies, series, images);
    std::printf("plain merge (scanner):    %8.1f ms  (%.0f chains/s), median of %d rounds in turn\n", p,
                total / p * 1000, rounds);
    std::printf("model merge + signals:    %8.1f ms  (%.0f chains/s), %lld notifications\n", m, total / m * 1000,
                notifications);
    std::printf("ratio model / plain:      %8.2fx  (median of per-round ratios; goal: <= 2x)\n",
                BenchRounds::medianRatio(model, plain));
    BenchRounds::printLoad("after");
    return 0;
}
