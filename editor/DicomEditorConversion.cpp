#include "editor/DicomEditorConversion.h"

#include "host/core/Log.h"
#include "host/core/Progress.h"
#include "host/dicom/deid/Anonymizer.h"
#include "host/dicom/deid/BurnedInTextRemoval.h"
#include "host/dicom/deid/DeidentificationJournal.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/DicomFileWriter.h"
#include "host/dicom/StructureCheck.h"
#include "host/dicom/Utils.h"
#include "host/dicom/deid/UidMap.h"
#include "scanning/Image.h"
#include "scanning/Series.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

namespace Dravelin {

struct DicomEditorConversion::Private
{
    std::unique_ptr<Dicom::Anonymizer> anonymizer;
    std::mutex burnedInMutex;
    QStringList burnedIn;
    std::atomic<int> cleaned{0};
    std::atomic<int> cleanedBoxes{0};
    std::unique_ptr<Dicom::DeidentificationJournal> journal;
    std::mutex instancesMutex;
    std::unordered_map<std::string, std::string> fileOfInstance;  // original SOP Instance UID -> file
    std::mutex foldersMutex;
    QSet<QString> folders;  // made (or found) by this run
};

struct DicomEditorConversion::Counters
{
    std::atomic<int> written{0};
    std::atomic<int> failed{0};
    std::atomic<int> leftOut{0};
    std::atomic<int> writtenBefore{0};
    std::atomic<int> notDicom{0};
};

// A thread's files written to temporaries, not yet at their targets.
struct DicomEditorConversion::Pending
{
    Dicom::DicomFileWriter::Batch batch;
    // Per file of the batch: its path relative to the input folder and its new SOP Instance UID.
    std::vector<std::pair<QString, std::string>> files;
    // Files the resumed run found in place although its journal did not say so.
    std::vector<QString> foundDone;
    size_t size() const { return batch.size() + foundDone.size(); }
};

namespace {

// Files per durable batch: large enough that the waits for the disk stop mattering, small enough
// that a crash loses little finished work.
constexpr size_t kBatchFiles = 64;

void logFailure(const QString& message)
{
    DRAVELIN_LOG(4, "DICOM", message);
}

QString canonicalOrAbsolute(const QString& path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

// The SOP class and instance of a file's meta header (empty when unreadable).
std::pair<std::string, std::string> metaUids(const std::string& fileName)
{
    DcmFileFormat file;
    OFString sopClass;
    OFString instance;
    if (file.loadFile(fileName.c_str(), EXS_Unknown, EGL_noChange, DCM_MaxReadLength, ERM_metaOnly).good()) {
        file.getMetaInfo()->findAndGetOFString(DCM_MediaStorageSOPClassUID, sopClass);
        file.getMetaInfo()->findAndGetOFString(DCM_MediaStorageSOPInstanceUID, instance);
    }
    return {sopClass.c_str(), instance.c_str()};
}

}  // namespace

QString DicomEditorConversion::Summary::message() const
{
    return complete() ? QString()
                      : QCoreApplication::translate("DicomEditor", "Not all files could be saved. See log for details");
}

QString DicomEditorConversion::Summary::outcome(const QString& outputFolder) const
{
    const auto tr = [](const char* text) { return QCoreApplication::translate("DicomEditor", text); };
    const auto files = [&](int n) { return n == 1 ? tr("1 file") : tr("%1 files").arg(n); };
    QString text = tr("%1 written to %2").arg(files(written), outputFolder);
    if (writtenBefore > 0)
        text += tr("; %1 written before by the run resumed").arg(files(writtenBefore));
    if (failed > 0)
        text += tr("; %1 failed (see the log)").arg(files(failed));
    if (leftOut > 0)
        text += tr("; %1 left out").arg(files(leftOut));
    if (!error.isEmpty())
        text += QStringLiteral("; ") + error;
    if (cleaned > 0)
        text += QStringLiteral("; ") + cleanedText();
    if (cancelled)
        text += tr("; cancelled");
    return text;
}

QString DicomEditorConversion::Summary::cleanedText() const
{
    if (cleaned == 0)
        return QString();
    const auto tr = [](const char* text) { return QCoreApplication::translate("DicomEditor", text); };
    return (cleaned == 1 ? tr("1 file") : tr("%1 files").arg(cleaned)) +
           tr(" cleaned of burned-in text (%1)")
               .arg(cleanedBoxes == 1 ? tr("1 box") : tr("%1 boxes").arg(cleanedBoxes));
}

DicomEditorConversion::DicomEditorConversion(QString inputFolder, QString outputFolder,
                                             Dicom::DeidentificationActionTable table, bool keepPrivateTags,
                                             std::shared_ptr<Dicom::DatasetCache> cache)
    : m_input(std::move(inputFolder)),
      m_output(std::move(outputFolder)),
      m_table(table),
      m_keepPrivateTags(keepPrivateTags),
      m_inPlace(canonicalOrAbsolute(m_input) == canonicalOrAbsolute(m_output)),
      m_cache(cache ? std::move(cache) : std::make_shared<Dicom::DatasetCache>(16)),
      m_uids(std::make_shared<Dicom::UidMap>()),
      d(std::make_unique<Private>())
{
    d->anonymizer = std::make_unique<Dicom::Anonymizer>(std::move(table), m_keepPrivateTags, m_uids);
}

DicomEditorConversion::~DicomEditorConversion() = default;

void DicomEditorConversion::setProfileName(const QString& name)
{
    m_profileName = name;
    d->anonymizer = std::make_unique<Dicom::Anonymizer>(m_table, m_keepPrivateTags, m_uids, name.toStdString());
}

void DicomEditorConversion::setPixelCleaning(std::shared_ptr<const Dicom::BurnedInTextRemoval> removal,
                                             const QString& description)
{
    m_pixelCleaning = std::move(removal);
    m_pixelCleaningDescription = description;
}

const Dicom::UidMap& DicomEditorConversion::uids() const
{
    return *m_uids;
}

Dicom::UidMap& DicomEditorConversion::uids()
{
    return *m_uids;
}

bool DicomEditorConversion::hasUnfinishedRun(const QString& output)
{
    return Dicom::DeidentificationJournal::existsIn(output);
}

QString DicomEditorConversion::start(bool resume)
{
    QCryptographicHash table(QCryptographicHash::Sha256);
    for (const auto& [tag, code] : m_table)
        table.addData(QByteArray::fromStdString(tag.toString() + code + "\n"));
    Dicom::DeidentificationJournal::Settings settings{
        {"input", canonicalOrAbsolute(m_input)},
        {"profile", m_profileName.isEmpty() ? QStringLiteral("(unnamed)") : m_profileName},
        {"action table", QString::fromLatin1(table.result().toHex().left(16))},
        {"private tags", m_keepPrivateTags ? QStringLiteral("kept") : QStringLiteral("removed")}};
    if (m_pixelCleaning)
        settings.emplace_back(QStringLiteral("clean pixels"), m_pixelCleaningDescription);
    QString error;
    d->journal = resume && hasUnfinishedRun(m_output)
                     ? Dicom::DeidentificationJournal::resume(m_output, settings, *m_uids, &error)
                     : Dicom::DeidentificationJournal::create(m_output, settings, &error);
    if (!d->journal && hasUnfinishedRun(m_output) && !resume)
        error = "the output folder holds an unfinished de-identification run (" +
                Dicom::DeidentificationJournal::fileName() + "): resume it or remove that file";
    return error;
}

QString DicomEditorConversion::folderProblem(const QString& input, const QString& output, bool inPlace, bool overwrite)
{
    if (!QFileInfo(input).isDir())
        return "Input folder not found: " + input;
    if (QFileInfo::exists(output) && !QFileInfo(output).isDir())
        return QStringLiteral("Output directory cannot be a file.");
    // The output may not exist yet: compare through its nearest existing ancestor.
    QString existing = QFileInfo(output).absoluteFilePath();
    QString rest;
    while (!QFileInfo::exists(existing) && QFileInfo(existing).fileName() != existing) {
        rest = "/" + QFileInfo(existing).fileName() + rest;
        existing = QFileInfo(existing).absolutePath();
    }
    const QString in = canonicalOrAbsolute(input);
    const QString out = QDir::cleanPath(canonicalOrAbsolute(existing) + rest);
    if (out == in)
        return inPlace ? QString()
                       : QStringLiteral(
                             "OUTPUT is INPUT: give --in-place to replace the input files by their "
                             "de-identified copies");
    if (inPlace)
        return QStringLiteral("--in-place needs OUTPUT equal to INPUT");
    if (out.startsWith(in + "/") || in == "/")
        return QStringLiteral("OUTPUT must not be inside INPUT");
    if (!overwrite && QFileInfo(output).isDir() &&
        !QDir(output).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).isEmpty())
        return QStringLiteral("OUTPUT is not empty: give --overwrite to write into it");
    return QString();
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
    if (!d->journal)
        summary.error = start(false);
    if (!summary.error.isEmpty()) {
        logFailure("Could not start: " + summary.error);
        summary.failed = static_cast<int>(locations.size());
        summary.journalKept = hasUnfinishedRun(m_output);
        return summary;
    }
    if (QFileInfo(m_output).isDir())
        if (const int stale = Dicom::DicomFileWriter::removeStaleTemporaries(m_output))
            DRAVELIN_LOG(
                2, "DICOM",
                QStringLiteral("Removed %1 temporary files of an interrupted run from %2").arg(stale).arg(m_output));
    if (progress) {
        progress->setText("Converting Files...");
        progress->setRange(static_cast<long long>(locations.size()));
        progress->setValue(0);
    }

    std::atomic<size_t> next{0};
    std::atomic<bool> cancelled{progress && progress->wasCancelled()};
    std::mutex mutex;
    int done = 0;
    // Full batches go to one thread that waits for the disk, so converting never stops for it. At
    // most a few wait there: their temporaries are open files.
    std::mutex queueMutex;
    std::condition_variable queueChanged;
    std::deque<std::unique_ptr<Pending>> queue;
    bool closing = false;
    const auto handOver = [&](std::unique_ptr<Pending> full) {
        std::unique_lock<std::mutex> lock(queueMutex);
        queueChanged.wait(lock, [&] { return queue.size() < 4; });
        queue.push_back(std::move(full));
        queueChanged.notify_all();
    };
    std::thread committer([&]() {
        for (;;) {
            std::unique_lock<std::mutex> lock(queueMutex);
            queueChanged.wait(lock, [&] { return closing || !queue.empty(); });
            if (queue.empty())
                return;
            std::unique_ptr<Pending> batch = std::move(queue.front());
            queue.pop_front();
            queueChanged.notify_all();
            lock.unlock();
            commit(*batch, counters);
        }
    });
    auto worker = [&]() {
        auto pending = std::make_unique<Pending>();
        while (!cancelled) {
            const size_t index = next++;
            if (index >= locations.size())
                break;
            try {
                convertLocation(locations[index], counters, *pending);
                if (pending->size() >= kBatchFiles)
                    handOver(std::exchange(pending, std::make_unique<Pending>()));
            } catch (const std::exception& e) {
                logFailure(QStringLiteral("Could not convert %1: %2")
                               .arg(QString::fromStdString(locations[index].string()), QString::fromUtf8(e.what())));
                ++counters.failed;
            }
            // One at a time: the values never go back, and a cancel seen here stops every thread
            // before its next file.
            std::lock_guard<std::mutex> lock(mutex);
            ++done;
            if (progress) {
                progress->setValue(done);
                if (progress->wasCancelled())
                    cancelled = true;
            }
        }
        handOver(std::move(pending));  // finished files are kept on cancel too
    };

    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int threads = std::min<int>(m_threads > 0 ? m_threads : cores, static_cast<int>(locations.size()));
    std::vector<std::thread> pool;
    for (int i = 1; i < threads; ++i)
        pool.emplace_back(worker);
    worker();
    for (auto& t : pool)
        t.join();
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        closing = true;
    }
    queueChanged.notify_all();
    committer.join();

    summary.locations = done;
    summary.written = counters.written;
    summary.failed = counters.failed;
    summary.leftOut = counters.leftOut;
    summary.writtenBefore = counters.writtenBefore;
    summary.notDicom = counters.notDicom;
    summary.cancelled = cancelled;
    {
        std::lock_guard<std::mutex> lock(d->burnedInMutex);
        summary.burnedIn = std::exchange(d->burnedIn, QStringList());
    }
    summary.burnedIn.sort();
    summary.cleaned = d->cleaned.exchange(0);
    summary.cleanedBoxes = d->cleanedBoxes.exchange(0);
    finishJournal(summary);
    summary.seconds = timer.nsecsElapsed() / 1e9;
    return summary;
}

void DicomEditorConversion::finishJournal(Summary& summary)
{
    summary.journalKept = true;
    if (summary.cancelled || summary.failed > summary.notDicom)
        return;
    QString error;
    if (!m_keepMapping.isEmpty() && !Dicom::DeidentificationJournal::writeMapping(*m_uids, m_keepMapping, &error)) {
        logFailure("Could not keep the mapping: " + error);
        summary.error = error;
        return;
    }
    if (!d->journal->remove())
        logFailure("Could not remove the journal " + Dicom::DeidentificationJournal::pathIn(m_output));
    d->journal.reset();
    summary.journalKept = false;
}

void DicomEditorConversion::commit(Pending& pending, Counters& counters)
{
    Dicom::DeidentificationJournal& journal = *d->journal;
    journal.recordDone(pending.foundDone);
    const int added = static_cast<int>(pending.batch.size());
    if (added == 0)
        return;
    // The mapping these files use, and which files they are, reach the disk before the first of
    // them replaces anything.
    QString error;
    if (!journal.recordPending(pending.files, *m_uids, &error)) {
        pending.batch.discard();
        for (const auto& file : pending.files)
            logFailure("Could not save file: " + QDir(m_output).absoluteFilePath(file.first) + " (" + error + ")");
        counters.failed += added;
        return;
    }
    const auto failures = pending.batch.commit({journal.descriptor()});
    std::vector<bool> failed(pending.files.size(), false);
    for (const auto& failure : failures) {
        logFailure("Could not save file: " + failure.target + " (" + QString::fromLocal8Bit(failure.error.c_str()) +
                   ")");
        failed[failure.index] = true;
    }
    std::vector<QString> done;
    for (size_t i = 0; i < pending.files.size(); ++i)
        if (!failed[i])
            done.push_back(pending.files[i].first);
    journal.recordDone(done);
    counters.written += added - static_cast<int>(failures.size());
    counters.failed += static_cast<int>(failures.size());
}

bool DicomEditorConversion::makeFolder(const QString& folder) const
{
    {
        std::lock_guard<std::mutex> lock(d->foldersMutex);
        if (d->folders.contains(folder))
            return true;
    }
    if (!QDir().mkpath(folder))
        return false;
    std::lock_guard<std::mutex> lock(d->foldersMutex);
    d->folders.insert(folder);
    return true;
}

bool DicomEditorConversion::writtenBefore(const QString& relativePath) const
{
    const Dicom::DeidentificationJournal& journal = *d->journal;
    if (journal.isDone(relativePath))
        return true;
    // Renamed or not when the run stopped: the target holds the new instance, or something else.
    const std::string uid = journal.pendingUid(relativePath);
    return !uid.empty() &&
           metaUids(QFile::encodeName(QDir(m_output).absoluteFilePath(relativePath)).toStdString()).second == uid;
}

void DicomEditorConversion::warnOfSharedInstanceUid(DcmDataset& source, const std::string& fileName) const
{
    OFString uid;
    if (source.findAndGetOFString(DCM_SOPInstanceUID, uid).bad() || uid.empty())
        return;
    std::string first;
    {
        std::lock_guard<std::mutex> lock(d->instancesMutex);
        const auto [it, added] = d->fileOfInstance.emplace(uid.c_str(), fileName);
        if (added)
            return;
        first = it->second;
    }
    DRAVELIN_LOG(2, "DICOM",
                 QStringLiteral("%1 and %2 have the same SOP Instance UID %3: both are written with one new UID")
                     .arg(QFile::decodeName(first.c_str()), QFile::decodeName(fileName.c_str()), uid.c_str()));
}

void DicomEditorConversion::convertLocation(const Filesystem::Url& location, Counters& counters, Pending& pending) const
{
    if (location.isLocalFile()) {
        const QString rel = QDir(m_input).relativeFilePath(QFile::decodeName(location.localFilePath().c_str()));
        if (d->journal->isDone(rel)) {
            ++counters.writtenBefore;
            return;
        }
        if (writtenBefore(rel)) {
            ++counters.writtenBefore;
            pending.foundDone.push_back(rel);
            return;
        }
    }
    std::vector<std::string> fileNames;
    const auto datasets = m_cache->load(location, &fileNames, nullptr, true);
    if (datasets.empty()) {
        const std::string where = location.isLocalFile() ? location.localFilePath() : location.string();
        const bool dicom = !location.isLocalFile() || Dicom::Utils::hasDicomHeader(where);
        // Why, as the cache's own check saw it (nesting too deep, a deflate bomb...).
        const std::string problem = !dicom                   ? std::string("not a DICOM file")
                                    : location.isLocalFile() ? Dicom::StructureCheck::checkFile(where, false).problem
                                                             : std::string();
        logFailure("Could not read file: " + QFile::decodeName(where.c_str()) +
                   (problem.empty() ? QString() : ": " + QString::fromStdString(problem)));
        ++counters.failed;
        if (!dicom)
            ++counters.notDicom;
        return;
    }
    for (size_t j = 0; j < datasets.size(); ++j) {
        const std::string fileName = j < fileNames.size() ? fileNames[j] : location.localFilePath();
        switch (datasets[j] ? convertDataset(*datasets[j], fileName, pending) : Outcome::Failed) {
            case Outcome::Added: break;  // counted when its batch is committed
            case Outcome::Failed: ++counters.failed; break;
            case Outcome::LeftOut: ++counters.leftOut; break;
        }
    }
}

DicomEditorConversion::Outcome DicomEditorConversion::convertDataset(DcmDataset& source, const std::string& fileName,
                                                                     Pending& pending) const
{
    const QDir input(m_input);
    const QDir output(m_output);
    const QString rel = input.relativeFilePath(QFile::decodeName(fileName.c_str()));
    if (rel == QLatin1String("..") || rel.startsWith(QLatin1String("../")) || QDir::isAbsolutePath(rel)) {
        logFailure("Could not create relative path: " + rel);
        return Outcome::Failed;
    }
    if (source.tagExists(DCM_DirectoryRecordSequence)) {
        DRAVELIN_LOG(2, "DICOM",
                     "Left out DICOMDIR " + QFile::decodeName(fileName.c_str()) +
                         ": its record offsets would not survive de-identification");
        return Outcome::LeftOut;
    }
    // The pixels must be in memory to be cleaned, and cleaning decides whether the burned-in
    // annotation stays.
    if (m_pixelCleaning && source.loadAllDataIntoMemory().bad()) {
        logFailure("Could not read file: " + QFile::decodeName(fileName.c_str()));
        return Outcome::Failed;
    }
    const Dicom::BurnedInTextRemoval::Outcome cleaning =
        m_pixelCleaning ? m_pixelCleaning->apply(source, QFile::decodeName(fileName.c_str()))
                        : Dicom::BurnedInTextRemoval::Outcome();
    if (!cleaning.cleaned && Dicom::Anonymizer::hasBurnedInAnnotation(source) &&
        !acceptBurnedIn(QFile::decodeName(fileName.c_str())))
        return Outcome::LeftOut;
    const QString out = output.absoluteFilePath(rel);
    if (!makeFolder(QFileInfo(out).absolutePath())) {
        logFailure("Could not create output path: " + out);
        return Outcome::Failed;
    }

    warnOfSharedInstanceUid(source, fileName);
    // Every load from the cache hands out a dataset of its own, so it is changed in place. All
    // values are read now so that nothing is fetched lazily from an input file that may be
    // replaced (output == input) or gone.
    if (source.loadAllDataIntoMemory().bad()) {
        logFailure("Could not read file: " + QFile::decodeName(fileName.c_str()));
        return Outcome::Failed;
    }
    if (!d->anonymizer->apply(source, cleaning.cleaned)) {
        logFailure("Could not de-identify file: " + QFile::decodeName(fileName.c_str()));
        return Outcome::Failed;
    }
    OFString instance;
    source.findAndGetOFString(DCM_SOPInstanceUID, instance);
    if (!write(&source, fileName, out, pending, cleaning.xfer))
        return Outcome::Failed;
    pending.files.emplace_back(rel, instance.c_str());
    if (cleaning.cleaned) {
        ++d->cleaned;
        d->cleanedBoxes += static_cast<int>(cleaning.regions.size());
    }
    return Outcome::Added;
}

bool DicomEditorConversion::acceptBurnedIn(const QString& fileName) const
{
    {
        std::lock_guard<std::mutex> lock(d->burnedInMutex);
        d->burnedIn << fileName;
    }
    DRAVELIN_LOG(2, "DICOM",
                 m_skipBurnedIn ? "Left out " + fileName + ": burned-in annotation (text in the pixels)"
                                : "Burned-in annotation in " + fileName +
                                      ": the text in its pixels stays, so it is written with Patient Identity "
                                      "Removed NO");
    return !m_skipBurnedIn;
}

bool DicomEditorConversion::write(DcmDataset* dataset, const std::string& sourceFile, QString target, Pending& pending,
                                  E_TransferSyntax xfer) const
{
    DcmFileFormat file(dataset, OFFalse);
    // The dataset stays the caller's.
    const std::unique_ptr<DcmFileFormat, void (*)(DcmFileFormat*)> giveBack(
        &file, [](DcmFileFormat* f) { f->getAndRemoveDataset(); });
    E_FileWriteMode mode = EWM_createNewMeta;
    if (!dataset->tagExists(DCM_SOPClassUID)) {
        // The new meta header would take its SOP class from the dataset: keep the source's.
        const auto [sopClass, instance] = metaUids(sourceFile);
        if (!sopClass.empty()) {
            OFString newInstance;
            dataset->findAndGetOFString(DCM_SOPInstanceUID, newInstance);
            const std::string uid = !newInstance.empty() ? std::string(newInstance.c_str())
                                    : instance.empty()   ? Dicom::UidMap::generate()
                                                         : m_uids->replacement(instance);
            file.getMetaInfo()->putAndInsertString(DCM_MediaStorageSOPClassUID, sopClass.c_str());
            file.getMetaInfo()->putAndInsertString(DCM_MediaStorageSOPInstanceUID, uid.c_str());
            mode = EWM_updateMeta;
        }
    }
    if (m_inPlace && QFileInfo(target).isSymLink()) {
        // Replacing the link would leave its target, the original, as it was.
        const QString resolved = QFileInfo(target).canonicalFilePath();
        if (resolved.isEmpty()) {
            logFailure("Could not save file: " + target + " (the link's target is missing)");
            return false;
        }
        target = resolved;
    }
    std::string error;
    if (!pending.batch.add(file, target, xfer, mode, &error)) {
        logFailure("Could not save file: " + target + " (" + QString::fromLocal8Bit(error.c_str()) + ")");
        return false;
    }
    return true;
}

}  // namespace Dravelin
