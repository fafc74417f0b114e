#include "editor/DicomEditorConversion.h"

#include "host/core/Log.h"
#include "host/core/Progress.h"
#include "host/dicom/Anonymizer.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/UidMap.h"
#include "scanning/Image.h"
#include "scanning/Series.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcfilefo.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <thread>

namespace Dravelin {

struct DicomEditorConversion::Private
{
    std::unique_ptr<Dicom::Anonymizer> anonymizer;
};

struct DicomEditorConversion::Counters
{
    std::atomic<int> written{0};
    std::atomic<int> failed{0};
};

namespace {

void logFailure(const QString& message)
{
    DRAVELIN_LOG(4, "DICOM", message);
}

}  // namespace

QString DicomEditorConversion::Summary::message() const
{
    return complete() ? QString()
                      : QCoreApplication::translate("DicomEditor", "Not all files could be saved. See log for details");
}

DicomEditorConversion::DicomEditorConversion(QString inputFolder, QString outputFolder,
                                             Dicom::DeidentificationActionTable table, bool keepPrivateTags,
                                             std::shared_ptr<Dicom::DatasetCache> cache)
    : m_input(std::move(inputFolder)),
      m_output(std::move(outputFolder)),
      m_keepPrivateTags(keepPrivateTags),
      m_cache(cache ? std::move(cache) : std::make_shared<Dicom::DatasetCache>(16)),
      m_uids(std::make_shared<Dicom::UidMap>()),
      d(std::make_unique<Private>())
{
    d->anonymizer = std::make_unique<Dicom::Anonymizer>(std::move(table), m_keepPrivateTags, m_uids);
}

DicomEditorConversion::~DicomEditorConversion() = default;

const Dicom::UidMap& DicomEditorConversion::uids() const
{
    return *m_uids;
}

std::vector<Filesystem::Url> DicomEditorConversion::locationsOf(const std::vector<const Dicom::Series*>& series)
{
    std::vector<Filesystem::Url> result;
    for (const Dicom::Series* s : series)
        if (s)
            for (const Dicom::Image* image : s->images)
                if (image)
                    result.push_back(image->location);
    return result;
}

DicomEditorConversion::Summary DicomEditorConversion::run(const std::vector<Filesystem::Url>& locations,
                                                          Progress* progress)
{
    QElapsedTimer timer;
    timer.start();
    Summary summary;
    Counters counters;
    std::atomic<size_t> next{0};
    std::atomic<int> done{0};
    std::atomic<bool> cancelled{false};
    if (progress) {
        progress->setText("Converting Files...");
        progress->setRange(static_cast<long long>(locations.size()));
        progress->setValue(0);
    }

    auto worker = [&]() {
        while (true) {
            if (progress && progress->wasCancelled())
                cancelled = true;
            if (cancelled)
                return;
            const size_t index = next++;
            if (index >= locations.size())
                return;
            try {
                convertLocation(locations[index], counters);
            } catch (const std::exception& e) {
                logFailure(QStringLiteral("Could not convert %1: %2")
                               .arg(QString::fromStdString(locations[index].string()), QString::fromUtf8(e.what())));
                ++counters.failed;
            }
            const int finished = ++done;
            if (progress)
                progress->setValue(finished);
        }
    };

    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int threads = std::min<int>(m_threads > 0 ? m_threads : cores, static_cast<int>(locations.size()));
    std::vector<std::thread> pool;
    for (int i = 1; i < threads; ++i)
        pool.emplace_back(worker);
    worker();
    for (auto& t : pool)
        t.join();

    summary.locations = done;
    summary.written = counters.written;
    summary.failed = counters.failed;
    summary.cancelled = cancelled;
    summary.seconds = timer.nsecsElapsed() / 1e9;
    return summary;
}

void DicomEditorConversion::convertLocation(const Filesystem::Url& location, Counters& counters) const
{
    std::vector<std::string> fileNames;
    const auto datasets = m_cache->load(location, &fileNames, nullptr, true);
    if (datasets.empty()) {
        const std::string where = location.isLocalFile() ? location.localFilePath() : location.string();
        logFailure("Could not read file: " + QString::fromStdString(where));
        ++counters.failed;
        return;
    }
    for (size_t j = 0; j < datasets.size(); ++j) {
        const std::string fileName = j < fileNames.size() ? fileNames[j] : location.localFilePath();
        if (datasets[j] && convertDataset(*datasets[j], fileName))
            ++counters.written;
        else
            ++counters.failed;
    }
}

bool DicomEditorConversion::convertDataset(const DcmDataset& source, const std::string& fileName) const
{
    const QDir input(m_input);
    const QDir output(m_output);
    const QString rel = input.relativeFilePath(QString::fromStdString(fileName));
    if (rel == QLatin1String("..") || rel.startsWith(QLatin1String("../")) || QDir::isAbsolutePath(rel)) {
        logFailure("Could not create relative path: " + rel);
        return false;
    }
    const QString out = output.absoluteFilePath(rel);
    if (!QDir().mkpath(QFileInfo(out).absolutePath())) {
        logFailure("Could not create output path: " + out);
        return false;
    }

    // The cache shares its datasets; all values are read now so that nothing is fetched
    // lazily from an input file that may be replaced (output == input) or gone.
    auto copy = std::make_unique<DcmDataset>(source);
    if (copy->loadAllDataIntoMemory().bad()) {
        logFailure("Could not read file: " + QString::fromStdString(fileName));
        return false;
    }
    if (!d->anonymizer->apply(*copy)) {
        logFailure("Could not de-identify file: " + QString::fromStdString(fileName));
        return false;
    }
    return write(copy.release(), out);
}

bool DicomEditorConversion::write(DcmDataset* dataset, const QString& target) const
{
    const QFileInfo info(target);
    const QString temporary = info.absolutePath() + "/." + info.fileName() + "." +
                              QString::number(QRandomGenerator::global()->generate64(), 36) + ".part";
    DcmFileFormat file(dataset, OFFalse);  // takes the dataset over
    const OFCondition status = file.saveFile(QFile::encodeName(temporary).constData(), EXS_Unknown, EET_UndefinedLength,
                                             EGL_recalcGL, EPD_noChange, 0, 0, EWM_createNewMeta);
    if (status.bad()) {
        QFile::remove(temporary);
        logFailure("Could not save file: " + target + " (" + QString::fromLatin1(status.text()) + ")");
        return false;
    }
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target).constData()) != 0) {
        const int error = errno;
        QFile::remove(temporary);
        logFailure("Could not save file: " + target + " (" + QString::fromLocal8Bit(std::strerror(error)) + ")");
        return false;
    }
    return true;
}

}  // namespace Dravelin
