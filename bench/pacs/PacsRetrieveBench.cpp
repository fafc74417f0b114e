// C-GET of one 500-instance series from a local Orthanc: our retrieval (the path the dataset
// cache takes for "pacs" locations) against DCMTK's getscu, in the same run, best of N.
#include "host/dicom/dimse/DicomPacsCommunication.h"
#include "host/dicom/dimse/PacsRetriever.h"
#include "tests/support/PacsTestServer.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/oflog/oflog.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace Dravelin;

namespace {

constexpr int InstanceCount = 500;
constexpr int Rounds = 3;

std::string newUid()
{
    char uid[100];
    return dcmGenerateUniqueIdentifier(uid, SITE_INSTANCE_UID_ROOT);
}

// 500 copies of CT_small in one new series, instance numbers 1..500.
std::vector<std::shared_ptr<DcmDataset>> makeSeries(std::string& studyUid, std::string& seriesUid)
{
    DcmFileFormat file;
    if (file.loadFile(Test::pydicomData("test_files/CT_small.dcm").toStdString().c_str()).bad())
        return {};
    studyUid = newUid();
    seriesUid = newUid();
    std::vector<std::shared_ptr<DcmDataset>> datasets;
    for (int i = 0; i < InstanceCount; ++i) {
        auto dataset = std::make_shared<DcmDataset>(*file.getDataset());
        dataset->putAndInsertString(DCM_StudyInstanceUID, studyUid.c_str());
        dataset->putAndInsertString(DCM_SeriesInstanceUID, seriesUid.c_str());
        dataset->putAndInsertString(DCM_SOPInstanceUID, newUid().c_str());
        dataset->putAndInsertString(DCM_InstanceNumber, std::to_string(i + 1).c_str());
        datasets.push_back(dataset);
    }
    return datasets;
}

double bestSeconds(const std::function<bool()>& run, bool& ok)
{
    double best = 1e9;
    for (int round = 0; round < Rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        ok = run() && ok;
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    OFLog::configure(OFLogger::ERROR_LOG_LEVEL);
    Test::PacsTestServer server(Test::PacsTestServer::Kind::Orthanc);
    if (!server.start()) {
        std::fprintf(stderr, "bench_pacs: %s\n", qPrintable(server.errorText()));
        return 1;
    }
    std::string studyUid, seriesUid;
    const auto datasets = makeSeries(studyUid, seriesUid);
    DicomPacsConfiguration config("127.0.0.1", server.port(), server.options().aeTitle, true);
    config.ownAeTitle = server.options().clientAeTitle;
    if (datasets.size() != InstanceCount || !DicomPacsCommunication(config).sendStoreRequest(datasets)) {
        std::fprintf(stderr, "bench_pacs: could not load %d instances\n", InstanceCount);
        return 1;
    }

    DcmDataset response;
    response.putAndInsertString(DCM_StudyInstanceUID, studyUid.c_str());
    response.putAndInsertString(DCM_SeriesInstanceUID, seriesUid.c_str());
    const Filesystem::Url location = config.generateUri(response);
    bool ok = true;
    const double ours = bestSeconds(
        [&] { return Dicom::PacsRetriever().retrieve(location).size() == static_cast<size_t>(InstanceCount); }, ok);

    Test::TempDir out;
    auto getscu = [&](bool toDisk) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TCP_NODELAY", "1");
        process.setProcessEnvironment(env);
        QStringList args{"-S",
                         "-aet",
                         QString::fromStdString(config.ownAeTitle),
                         "-aec",
                         QString::fromStdString(config.aeTitle),
                         "-k",
                         "QueryRetrieveLevel=SERIES",
                         "-k",
                         "StudyInstanceUID=" + QString::fromStdString(studyUid),
                         "-k",
                         "SeriesInstanceUID=" + QString::fromStdString(seriesUid)};
        args << (toDisk ? QStringList{"-od", out.path()} : QStringList{"--ignore"});
        args << "127.0.0.1" << QString::number(server.port());
        process.start("/usr/bin/getscu", args);
        const bool finished = process.waitForFinished(120000) && process.exitCode() == 0;
        if (toDisk) {
            const int files = QDir(out.path()).entryList(QDir::Files).size();
            for (const QString& name : QDir(out.path()).entryList(QDir::Files))
                QFile::remove(out.file(name));
            return finished && files == InstanceCount;
        }
        return finished;
    };
    const double toDisk = bestSeconds([&] { return getscu(true); }, ok);
    const double ignoring = bestSeconds([&] { return getscu(false); }, ok);

    std::printf("C-GET of %d instances (CT 128x128, best of %d)\n", InstanceCount, Rounds);
    std::printf("  ours (PacsRetriever, into memory): %.3f s\n", ours);
    std::printf("  getscu -od (to files):             %.3f s\n", toDisk);
    std::printf("  getscu --ignore (received, dropped): %.3f s\n", ignoring);
    std::printf("  ratio ours / getscu -od:     %.2f\n", ours / toDisk);
    std::printf("  ratio ours / getscu --ignore: %.2f\n", ours / ignoring);
    if (!ok) {
        std::fprintf(stderr, "bench_pacs: a retrieval did not deliver all instances\n");
        return 1;
    }
    return 0;
}
