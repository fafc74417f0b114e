#include "scanning/Scanner.h"

#include "host/core/Log.h"
#include "host/core/Url.h"
#include "host/dicom/DatasetCache.h"
#include "host/dicom/DicomDirReader.h"
#include "host/dicom/dimse/DicomPacsCommunication.h"
#include "host/dicom/HeaderReadAhead.h"
#include "host/dicom/RawHeader.h"
#include "host/dicom/StructureCheck.h"
#include "host/dicom/Utils.h"
#include "host/dicom/dicomweb/WebClient.h"
#include "host/network/HttpAuthorizationProvider.h"
#include "host/core/ThreadPool.h"
#include "host/dicom/Element.h"
#include "scanning/FolderListing.h"
#include "scanning/Image.h"
#include "scanning/PacsSeriesProxy.h"
#include "scanning/Patient.h"
#include "scanning/RecordElements.h"
#include "scanning/RecordTags.h"
#include "scanning/Series.h"
#include "scanning/Study.h"
#include "scanning/TreeMerger.h"

#include <QElapsedTimer>
#include <QFile>
#include <QUrl>

#include <fmt/format.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <fcntl.h>
#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <exception>

namespace Dravelin::Dicom {

namespace {

// A file ID must stay inside the DICOMDIR's folder: no absolute path, no drive, no "..".
bool isSafeFileId(const QString& fileId)
{
    if (fileId.isEmpty() || fileId.startsWith('\\') || fileId.startsWith('/'))
        return false;
    if (fileId.size() >= 2 && fileId[1] == ':')
        return false;
    QString normalized = fileId;
    normalized.replace('\\', '/');
    const QStringList parts = normalized.split('/');
    return std::none_of(parts.begin(), parts.end(), [](const QString& p) { return p.trimmed() == ".."; });
}

// A file ID may still leave the folder through symbolic links: the file (or, when it does not
// exist, its nearest existing folder) must resolve to a path inside `canonicalBase`.
bool staysInside(const QString& location, const QString& canonicalBase)
{
    QFileInfo info(location);
    QString resolved = info.canonicalFilePath();
    while (resolved.isEmpty()) {
        const QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath())
            return false;
        info = QFileInfo(parent);
        resolved = info.canonicalFilePath();
    }
    return resolved == canonicalBase || resolved.startsWith(canonicalBase + '/');
}

// The elements the records of a DICOMDIR are built from: a file's, and the file ID.
const std::vector<RawHeader::Field>& dicomDirFields()
{
    static const std::vector<RawHeader::Field> fields = [] {
        std::vector<RawHeader::Field> result = RecordElements::rawFields();
        result.push_back({0x00041500u, {'C', 'S'}});
        std::sort(result.begin(), result.end(), [](const auto& a, const auto& b) { return a.tag < b.tag; });
        return result;
    }();
    return fields;
}

// The Referenced File ID of an image record, its components joined by backslashes.
std::optional<QString> referencedFileId(const RecordElements& fields)
{
    if (DcmItem* item = fields.item()) {
        OFString value;
        if (item->findAndGetOFStringArray(DCM_ReferencedFileID, value).bad())
            return std::nullopt;
        return QString::fromUtf8(value.c_str());
    }
    const EncodedValue* value = fields.encoded(DCM_ReferencedFileID);
    if (!value)
        return std::nullopt;
    return QString::fromUtf8(value->bytes.data(), int(value->bytes.size()));
}

// Headers longer than the read-ahead are read again up to this size before DCMTK gets them.
constexpr std::size_t kLongHeaderBytes = 1024 * 1024;

void logException(const char* where, const QString& path, const char* what)
{
    Log::log(4, "DICOM", QString("%1 %2: %3").arg(where, path, what), __FILE__, __LINE__);
}

}  // namespace

namespace {

// The last record of one level built from a RawHeader, and what it was built from. Files
// come mostly in series order: the next file's patient, study and series are most often the
// same, and copying them costs a fraction of reading them again.
template <typename Record>
struct LevelTemplate
{
    std::string key;  // the encoded values of the level's elements
    std::unique_ptr<Record> record;
    std::vector<DcmTagKey> missing;  // its missing Required elements, logged again for every copy

    // A copy of the template when `fields` hold the same values, else a new record (which
    // becomes the template).
    template <typename Build>
    Record* make(const RecordElements& fields, std::initializer_list<const DcmTag*> tags, Build build)
    {
        if (!record || !sameKey(fields, tags)) {
            missing.clear();
            fields.collectMissing(&missing);
            record.reset(build());
            fields.collectMissing(nullptr);
            key.clear();
            for (const DcmTag* tag : tags) {
                const EncodedValue* value = fields.encoded(*tag);
                const std::uint32_t length = value ? std::uint32_t(value->bytes.size()) : 0xFFFFFFFFu;
                key.append(reinterpret_cast<const char*>(&length), sizeof length);
                if (value)
                    key.append(value->bytes);
            }
        } else {
            for (const DcmTagKey& tag : missing)
                ElementBase::logMissing(tag);
        }
        return new Record(*record);
    }

    // Whether `fields` hold the values `key` was made of, compared in place (most files match).
    bool sameKey(const RecordElements& fields, std::initializer_list<const DcmTag*> tags) const
    {
        std::string_view rest(key);
        for (const DcmTag* tag : tags) {
            const EncodedValue* value = fields.encoded(*tag);
            std::uint32_t length = 0;
            if (rest.size() < sizeof length)
                return false;
            std::memcpy(&length, rest.data(), sizeof length);
            rest.remove_prefix(sizeof length);
            if (!value) {
                if (length != 0xFFFFFFFFu)
                    return false;
                continue;
            }
            if (length != value->bytes.size() || rest.substr(0, length) != value->bytes)
                return false;
            rest.remove_prefix(length);
        }
        return rest.empty();
    }
};

}  // namespace

// What one worker of a folder scan keeps from file to file.
struct Scanner::ScanState
{
    RawHeader header{RecordElements::rawFields()};
    std::vector<char> buffer;  // a header longer than the read-ahead
    LevelTemplate<Patient> patient;
    LevelTemplate<Study> study;
    LevelTemplate<Series> series;
    std::string folder;         // of the last file
    Filesystem::Url folderUrl;  // its Url::localFolder
    int folderFd = -1;          // it, opened (O_PATH) for opening its files
    int filesInFolder = 0;
    std::vector<QString> numbers;  // instance numbers as written, shared by all images
    // The files of one series read in a row, handed on as one tree: one merge on the GUI
    // thread per batch instead of per file.
    std::unique_ptr<Patient> batch;  // one study, one series

    ScanState() = default;
    ScanState(const ScanState&) = delete;
    ScanState& operator=(const ScanState&) = delete;
    ~ScanState()
    {
        if (folderFd >= 0)
            ::close(folderFd);
    }

    // Moves on to the folder of `path`. From its second file on, files are opened relative to
    // it (a folder of one file would pay for opening the folder).
    void enterFolder(const char* path, std::size_t nameStart)
    {
        const std::string_view folderBytes(path, nameStart > 0 ? nameStart - 1 : 0);
        if (folderBytes != folder || filesInFolder == 0) {
            folder = folderBytes;
            folderUrl = Filesystem::Url::localFolder(QFile::decodeName(folder.c_str()));
            if (folderFd >= 0)
                ::close(folderFd);
            folderFd = -1;
            filesInFolder = 0;
        }
        if (++filesInFolder == 2 && !folder.empty())
            folderFd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }

    // The location of a file of the current folder: the files of one folder share its text.
    Filesystem::Url location(const char* path, std::size_t nameStart)
    {
        if (folderUrl.isEmpty())
            return Filesystem::Url::fromLocalFile(std::string(path));
        return Filesystem::Url::fromLocalFile(folderUrl, QFile::decodeName(path + nameStart));
    }

    // Small instance numbers repeat in every series: their texts are shared.
    void share(QString& text)
    {
        if (text.isEmpty() || text.size() > 4 || (text.size() > 1 && text[0] == '0'))
            return;
        int value = 0;
        for (const QChar c : text) {
            if (c < '0' || c > '9')
                return;
            value = value * 10 + (c.unicode() - '0');
        }
        if (numbers.size() <= std::size_t(value))
            numbers.resize(std::size_t(value) + 1);
        QString& shared = numbers[std::size_t(value)];
        if (shared.isNull())
            shared = text;
        else
            text = shared;
    }
};

Scanner::Scanner(std::shared_ptr<DatasetCache> cache)
    : m_numberOfThreads(defaultNumberOfThreads()), m_merger(std::make_unique<TreeMerger>())
{
    setDatasetCache(std::move(cache));
}

Scanner::~Scanner()
{
    for (Patient* p : m_patients)
        delete p;
}

int Scanner::defaultNumberOfThreads()
{
    return defaultNumberOfThreads(omp_get_max_threads());
}

int Scanner::defaultNumberOfThreads(int maxThreads)
{
    return 3 * maxThreads >= 8 ? 3 * maxThreads / 4 : 1;
}

void Scanner::setDatasetCache(std::shared_ptr<DatasetCache> cache)
{
    m_cache = cache ? std::move(cache) : std::make_shared<DatasetCache>(0);
}

std::shared_ptr<DatasetCache> Scanner::datasetCache() const
{
    return m_cache;
}

void Scanner::setNumberOfThreads(int n)
{
    m_numberOfThreads = std::max(1, n);
}

int Scanner::numberOfThreads() const
{
    return m_numberOfThreads;
}

void Scanner::cancel()
{
    m_cancel.store(true);
}

const std::vector<Patient*>& Scanner::patients() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_merger->finish();
    return m_patients;
}

std::vector<std::unique_ptr<Patient>> Scanner::takePatients()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_merger->finish();
    std::vector<std::unique_ptr<Patient>> result;
    result.reserve(m_patients.size());
    for (Patient* p : m_patients)
        result.emplace_back(p);
    m_patients.clear();
    return result;
}

void Scanner::addPatient(Patient* patient)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_merger->add(m_patients, patient);
}

void Scanner::queuePatient(Patient* patient)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_patients.push_back(patient);
}

void Scanner::removePacsProxy(PacsSeriesProxy* proxy)
{
    if (!proxy)
        return;
    if (proxy->study)
        proxy->study->pacsSeriesProxy = nullptr;
    delete proxy;
}

void Scanner::updateProgress(int, int) {}

void Scanner::updateProgressText(const std::string&) {}

FolderListing Scanner::listing()
{
    return FolderListing(m_cancel,
                         {[this](int value, int maximum) { updateProgress(value, maximum); },
                          [this](const std::string& text) { updateProgressText(text); }},
                         m_numberOfThreads);
}

QList<QFileInfo> Scanner::retrieveFileList(const QDir& dir, bool recursive, bool useDicomdirOnly, int depth)
{
    const FolderListing::Files files = listing().list(dir.absolutePath(), recursive, useDicomdirOnly, depth);
    QList<QFileInfo> result;
    result.reserve(int(files.size()));
    for (std::size_t i = 0; i < files.size(); ++i)
        result.append(QFileInfo(QFile::decodeName(files.path(i).c_str())));
    return result;
}

void Scanner::scanFiles(const QStringList& files, bool checkDicomHeader)
{
    m_cancel.store(false);
    std::vector<std::string> paths;
    paths.reserve(std::size_t(files.size()));
    for (const QString& file : files)
        paths.push_back(QFile::encodeName(file).toStdString());
    scanListed(FolderListing::Files::of(paths), checkDicomHeader);
}

void Scanner::scanListed(const FolderListing::Files& files, bool checkDicomHeader)
{
    const int n = static_cast<int>(files.size());
    DRAVELIN_LOG(0, "DICOM", "Found " + QString::number(n) + " files");
    updateProgress(0, n);

    std::atomic<int> done{0};
    std::vector<ScanState> states(static_cast<std::size_t>(m_numberOfThreads));
    // Files are handed out in blocks: one thread left with the costly end of a static split
    // (files DCMTK reads, cold folders) made the other wait. Merging does not depend on which
    // thread reads a file first (Image::scanOrder).
    static std::atomic<std::uint32_t> scanned{0};
    const std::uint32_t firstOrder = scanned.fetch_add(std::uint32_t(n)) + 1;
#pragma omp parallel for num_threads(m_numberOfThreads) schedule(dynamic, 512)
    for (int i = 0; i < n; ++i) {
        if (m_cancel.load())
            continue;
        try {
            scanFile(files.path(std::size_t(i)).c_str(), files.nameStart(std::size_t(i)), checkDicomHeader,
                     firstOrder + std::uint32_t(i), states[static_cast<std::size_t>(omp_get_thread_num())]);
        } catch (const std::exception& e) {
            logException("Cannot scan", QFile::decodeName(files.path(std::size_t(i)).c_str()), e.what());
        } catch (...) {
            logException("Cannot scan", QFile::decodeName(files.path(std::size_t(i)).c_str()), "unknown error");
        }
        try {
            updateProgress(++done, n);
        } catch (...) {
        }
    }
    for (ScanState& state : states)
        flush(state);
}

void Scanner::scanDirectory(const QString& directory, bool recursive, bool useDicomdirOnly, bool checkDicomHeader)
{
    m_cancel.store(false);
    QElapsedTimer timer;
    timer.start();
    DRAVELIN_LOG(1, "DICOM", "Start scanning " + directory + " (recursive: " + (recursive ? "1" : "0") + ")");

    FolderListing::Files files;
    try {
        files = listing().list(directory, recursive, useDicomdirOnly);
    } catch (const std::exception& e) {
        logException("Cannot list", directory, e.what());
    }
    scanListed(files, checkDicomHeader);
    const int n = static_cast<int>(files.size());
    if (n == 0) {
        const QString message = useDicomdirOnly ? "No DICOMDIR files found in directory '" + directory + "'."
                                                : "No files found in directory '" + directory + "'.";
        DRAVELIN_LOG(2, "", message);
    }
    DRAVELIN_LOG(1, "", "Finished scanning " + directory + "in: " + QString::number(timer.elapsed()) + "ms");
}

void Scanner::scanFile(const char* pathBytes, std::size_t nameStart, bool checkDicomHeader, std::uint32_t order,
                       ScanState& state)
{
    const std::string path(pathBytes);
    const auto skip = [&](bool hasHeader) {
        if (!m_skippedFileHandler)
            return;
        SkipReason reason = ::access(pathBytes, R_OK) != 0 ? SkipReason::Unreadable
                            : hasHeader                    ? SkipReason::Truncated
                                                           : SkipReason::NotDicom;
        if (reason == SkipReason::Truncated) {
            // The readers refuse more than files cut short; ask the check they ask what it was.
            const StructureCheck::Result checked = StructureCheck::checkFile(path, true);
            reason = checked.tooDeep          ? SkipReason::TooDeep
                     : checked.inflatesTooFar ? SkipReason::DeflateBomb
                                              : SkipReason::Truncated;
        }
        m_skippedFileHandler(QFile::decodeName(pathBytes), reason);
    };
    // The bytes of the header test are those the parse reads first (HeaderReadAhead).
    state.enterFolder(pathBytes, nameStart);
    std::size_t fileSize = 0;
    const std::vector<char>* head =
        HeaderReadAhead::read(path, HeaderReadAhead::DefaultBytes, &fileSize, state.folderFd, pathBytes + nameStart);
    const bool hasHeader = head && Utils::isDicomHeader(head->data(), head->size());
    if (checkDicomHeader && !hasHeader) {
        skip(false);
        return;
    }
    if (FolderListing::isDicomdirName(pathBytes + nameStart)) {
        flush(state);  // the files before it merge first, as they come first
        readDicomDir(QFile::decodeName(pathBytes), false);
        return;
    }
    std::unique_ptr<Patient> patient;
    if (hasHeader && m_readsHeadersDirectly) {
        bool truncated = false;
        patient = readHeader(path, *head, fileSize, state, truncated);
        if (truncated) {
            skip(true);
            return;
        }
    }
    if (!patient) {
        std::shared_ptr<DcmDataset> dataset = m_cache->loadFromFile(path, nullptr, false);
        if (!dataset) {
            skip(checkDicomHeader || Utils::hasDicomHeader(path));
            return;
        }
        // Outside DICOMDIR mode a file set's directory is left out whatever its name: its records
        // are no image. Such datasets carry no SOP class of their own, so only they cost the look.
        if (!dataset->tagExists(DCM_SOPClassUID) && Utils::isDicomdirFile(path)) {
            DRAVELIN_LOG(1, "DICOM", "Skipping DICOMDIR file " + QFile::decodeName(pathBytes));
            return;
        }
        patient = std::make_unique<Patient>(*dataset, true);
    }
    const Filesystem::Url location = state.location(pathBytes, nameStart);
    for (Study* study : patient->studies)
        for (Series* series : study->series)
            for (Image* image : series->images) {
                image->location = location;
                image->scanOrder = order;
                state.share(image->instanceNumberText);
            }
    collect(std::move(patient), state);
}

namespace {

bool sameSeries(const Patient& a, const Patient& b)
{
    const Study* x = a.studies.front();
    const Study* y = b.studies.front();
    return x->series.front()->seriesInstanceUid == y->series.front()->seriesInstanceUid &&
           x->studyInstanceUid == y->studyInstanceUid && a.patientId == b.patientId && a.patientName == b.patientName;
}

}  // namespace

// An image of the series in hand joins its batch where merging would put it; the batch's
// records are those of its first file, as the merge keeps them.
void Scanner::collect(std::unique_ptr<Patient> patient, ScanState& state)
{
    constexpr std::size_t batchSize = 64;
    const auto onlySeries = [](const Patient& p) { return p.studies.front()->series.front(); };
    const bool single = patient->studies.size() == 1 && patient->studies.front()->series.size() == 1 &&
                        onlySeries(*patient)->images.size() == 1;
    if (single && state.batch && sameSeries(*state.batch, *patient)) {
        Series* series = onlySeries(*state.batch);
        Image* image = onlySeries(*patient)->images.front();
        onlySeries(*patient)->images.clear();
        image->series = series;
        series->insertImage(TreeMerger::insertionPoint(series->images, image), image);
    } else {
        flush(state);
        if (!single) {
            addPatient(patient.release());
            return;
        }
        state.batch = std::move(patient);
    }
    if (onlySeries(*state.batch)->images.size() >= batchSize)
        flush(state);
}

void Scanner::flush(ScanState& state)
{
    if (state.batch)
        addPatient(state.batch.release());
}

// Most files are read straight from their first bytes; what RawHeader declines (and the
// enhanced multi-frame objects, and files without a SOP class, which may be DICOMDIRs) is left
// to DCMTK. Both give the same records.
std::unique_ptr<Patient> Scanner::readHeader(const std::string& path, const std::vector<char>& head,
                                             std::size_t fileSize, ScanState& state, bool& truncated)
{
    RawHeader::Result result = state.header.parse(head.data(), head.size(), head.size() == fileSize);
    if (result == RawHeader::Result::NeedsMoreData) {
        std::size_t size = 0;
        if (!HeaderReadAhead::readStart(path, kLongHeaderBytes, state.buffer, size) ||
            state.buffer.size() != std::min(size, kLongHeaderBytes))
            return nullptr;
        result = state.header.parse(state.buffer.data(), state.buffer.size(), state.buffer.size() == size);
    }
    truncated = result == RawHeader::Result::Truncated;
    if (result != RawHeader::Result::Parsed)
        return nullptr;
    const RecordElements fields(state.header);
    if (!fields.contains(DCM_SOPClassUID) || fields.contains(DCM_SharedFunctionalGroupsSequence))
        return nullptr;
    // The chain Patient(fields, true) builds, with copies of the levels met just before.
    const RecordTags& t = RecordTags::get();
    std::unique_ptr<Patient> patient(state.patient.make(
        fields, {&t.patientId, &t.patientName, &t.patientSex, &t.patientBirthDate, &t.patientComments},
        [&] { return new Patient(fields, false); }));
    Study* study =
        state.study.make(fields, {&t.studyInstanceUid, &t.studyId, &t.studyTime, &t.studyDate, &t.studyDescription},
                         [&] { return new Study(nullptr, fields, false); });
    study->patient = patient.get();
    patient->studies.push_back(study);
    Series* series = state.series.make(fields,
                                       {&t.seriesInstanceUid, &t.sopClassUid, &t.seriesTime, &t.seriesDate,
                                        &t.seriesNumber, &t.modality, &t.seriesDescription},
                                       [&] { return new Series(nullptr, fields, false); });
    series->study = study;
    study->series.push_back(series);
    auto* image = new Image(series, fields);
    series->images.push_back(image);
    if (!image->imageType.isEmpty())
        series->imageType = image->imageType;
    return patient;
}

void Scanner::scanDicomDir(const QString& dicomDirFile)
{
    scanDicomDirImpl(dicomDirFile, true);
}

void Scanner::scanDicomDirImpl(const QString& path, bool reportProgress)
{
    m_cancel.store(false);
    try {
        readDicomDir(path, reportProgress);
    } catch (const std::exception& e) {
        logException("Cannot read DICOMDIR", path, e.what());
    } catch (...) {
        logException("Cannot read DICOMDIR", path, "unknown error");
    }
}

void Scanner::readDicomDir(const QString& path, bool reportProgress)
{
    // DCMTK would start a new, empty directory for a missing file, and read a file without
    // the DICOM file header (e.g. plain text) as an empty one.
    if (!QFileInfo(path).isFile() || !QFile(path).open(QIODevice::ReadOnly)) {
        DRAVELIN_LOG(4, "", "Could not load DICOMDIR: cannot open " + path);
        return;
    }
    if (!Utils::hasDicomHeader(QFile::encodeName(path).toStdString())) {
        DRAVELIN_LOG(4, "", "Could not load DICOMDIR: no DICOM file header in " + path);
        return;
    }
    DicomDirReader dicomDir;
    if (!dicomDir.readFile(QFile::encodeName(path).toStdString())) {
        DRAVELIN_LOG(4, "", "Could not load DICOMDIR: " + dicomDir.error());
        return;
    }
    const auto& records = dicomDir.records();
    const int recordCount = int(dicomDir.roots().size());
    if (reportProgress) {
        updateProgress(0, recordCount);
        updateProgressText("Processing files...");
    }
    const QString base = QFileInfo(path).absolutePath();
    const QString canonicalBase = QFileInfo(base).canonicalFilePath();

    // Each record is read when it is built, straight from the file's bytes where that reads
    // as DCMTK reads it, else by DCMTK.
    RawHeader header(dicomDirFields());
    const DcmTag& functionalGroups = RecordTags::get().sharedFunctionalGroups;
    bool conversionLogged = false;
    const auto build = [&](std::size_t index, auto make) -> decltype(make(std::declval<const RecordElements&>())) {
        if (dicomDir.parseRecord(index, header)) {
            const RecordElements fields(header);
            if (!fields.contains(functionalGroups))
                return make(fields);
        }
        DcmItem* item = dicomDir.item(index);
        if (dicomDir.conversionFailed() && !conversionLogged) {
            conversionLogged = true;
            DRAVELIN_LOG(3, "", "Cannot convert DICOM file to UTF8. Assuming Latin1 character encoding.");
        }
        if (!item) {
            DRAVELIN_LOG(3, "",
                         "Skipping a DICOMDIR record that cannot be read in " + path + ": " +
                             QString::fromStdString(dicomDir.itemError()));
            return nullptr;
        }
        return make(RecordElements(*item));
    };

    // The images of one folder share its URL and keep only their names, as a folder scan's do:
    // a whole URL per image was a fifth of the tree.
    QString lastFolder;
    Filesystem::Url lastFolderUrl;
    const auto locationOf = [&](const QString& location) {
        const int slash = location.lastIndexOf('/');
        const QString folder = location.left(slash);
        if (folder != lastFolder) {
            lastFolder = folder;
            lastFolderUrl = Filesystem::Url::localFolder(folder);
        }
        if (lastFolderUrl.isEmpty())
            return Filesystem::Url::fromLocalFile(location);
        return Filesystem::Url::fromLocalFile(lastFolderUrl, location.mid(slash + 1));
    };

    int patientsDone = 0;
    for (const std::size_t p : dicomDir.roots()) {
        if (m_cancel.load())
            return;
        if (records[p].type != "PATIENT")
            continue;
        std::unique_ptr<Patient> patient(
            build(p, [](const RecordElements& fields) { return new Patient(fields, false); }));
        if (!patient)
            continue;
        for (const std::size_t s : records[p].children) {
            if (m_cancel.load())
                return;
            if (records[s].type != "STUDY")
                continue;
            std::unique_ptr<Study> study(
                build(s, [&patient](const RecordElements& fields) { return new Study(patient.get(), fields, false); }));
            if (!study)
                continue;
            for (const std::size_t r : records[s].children) {
                if (m_cancel.load())
                    return;
                if (records[r].type != "SERIES")
                    continue;
                std::unique_ptr<Series> series(build(
                    r, [&study](const RecordElements& fields) { return new Series(study.get(), fields, false); }));
                if (!series)
                    continue;
                for (const std::size_t i : records[r].children) {
                    if (records[i].type != "IMAGE")
                        continue;
                    Image* image = build(i, [&](const RecordElements& fields) -> Image* {
                        const std::optional<QString> fileId = referencedFileId(fields);
                        if (!fileId) {
                            DRAVELIN_LOG(3, "",
                                         "Skipping DICOMDIR image record without a referenced file ID in " + path);
                            return nullptr;
                        }
                        const QString location = QString(base + '/' + *fileId).replace('\\', '/');
                        if (!isSafeFileId(*fileId) || !staysInside(location, canonicalBase)) {
                            DRAVELIN_LOG(3, "",
                                         "Skipping DICOMDIR image record with a file ID outside the DICOMDIR's "
                                         "folder: '" +
                                             *fileId + "' in " + path);
                            return nullptr;
                        }
                        auto made = std::make_unique<Image>(series.get(), fields);
                        made->location = locationOf(location);
                        return made.release();
                    });
                    if (image)
                        series->images.push_back(image);
                }
                study->series.push_back(series.release());
            }
            patient->studies.push_back(study.release());
        }
        addPatient(patient.release());
        ++patientsDone;
        if (reportProgress)
            updateProgress(patientsDone, recordCount);
    }
}

// --- PACS ----------------------------------------------------------------------------------

void Scanner::setPacs(DicomPacsCommunication* pacs)
{
    if (pacs && Dravelin::Log::isAccepted(2)) {
        const DicomPacsConfiguration& config = pacs->connectionConfiguration();
        Dravelin::Log::log(2, "DICOM", "Using pacs settings:");
        Dravelin::Log::log(2, "DICOM",
                           "Server: " + config.aeTitle + " " + config.hostname + ":" + std::to_string(config.port));
        Dravelin::Log::log(2, "DICOM", "Client: " + config.ownAeTitle + " " + std::to_string(config.ownPort));
    }
    m_pacs = pacs;
}

void Scanner::scanPacs(const QString& patientNameFilter, const QString& studyFilter)
{
    DcmDataset query;
    query.insertEmptyElement(DCM_StudyInstanceUID);
    query.insertEmptyElement(DCM_StudyID);
    query.insertEmptyElement(DCM_StudyTime);
    query.insertEmptyElement(DCM_StudyDate);
    query.putAndInsertOFStringArray(DCM_StudyDescription, studyFilter.toUtf8().constData());
    query.insertEmptyElement(DCM_PatientID);
    query.putAndInsertOFStringArray(DCM_PatientName, patientNameFilter.toUtf8().constData());
    query.insertEmptyElement(DCM_PatientSex);
    query.insertEmptyElement(DCM_PatientBirthDate);
    query.insertEmptyElement(DCM_PatientComments);
    scanPacs(query);
}

void Scanner::scanPacs(const DcmDataset& query)
{
    if (!m_pacs) {
        DRAVELIN_LOG(4, "DICOM", "Please call setPacs with a valid DicomPacsCommunication before scanPacs");
        return;
    }
    m_cancel.store(false);
    updateProgress(0, 0);
    updateProgressText("Retrieving Series from PACS...");
    DcmDataset copy(query);
    copy.putAndInsertString(DCM_QueryRetrieveLevel, "STUDY");
    m_pacs->sendFindRequest(
        DicomPacsCommunication::StudyRoot, copy,
        [this](std::unique_ptr<DcmDataset> response) {
            if (response->convertToUTF8().bad())
                DRAVELIN_LOG(3, "DICOM",
                             "Cannot convert DICOM file to UTF8. Assuming Latin1 character "
                             "encoding.");
            OFString uid;
            if (response->findAndGetOFStringArray(DCM_StudyInstanceUID, uid).bad())
                return;
            auto* patient = new Patient(*response, false);
            auto* study = new Study(patient, *response, false);
            patient->studies.push_back(study);
            study->pacsSeriesProxy = new PacsSeriesProxy(study);
            addPatient(patient);
        },
        &m_cancel);
}

void Scanner::scanPacsSeries(PacsSeriesProxy* proxy)
{
    if (!m_pacs) {
        DRAVELIN_LOG(4, "DICOM", "Please call setPacs with a valid DicomPacsCommunication before scanPacsSeries");
        return;
    }
    if (!proxy || !proxy->study) {
        DRAVELIN_LOG(3, "DICOM", "PacsSeriesProxy has been already resolved");
        return;
    }
    m_cancel.store(false);
    Study* study = proxy->study;
    const std::string studyUid = study->studyInstanceUid.toStdString();

    DcmDataset seriesQuery;
    seriesQuery.putAndInsertString(DCM_QueryRetrieveLevel, "SERIES");
    seriesQuery.putAndInsertString(DCM_StudyInstanceUID, studyUid.c_str());
    for (const DcmTagKey& key : {DCM_SOPClassUID, DCM_SeriesInstanceUID, DCM_SeriesTime, DCM_SeriesDate,
                                 DCM_SeriesNumber, DCM_Modality, DCM_SeriesDescription})
        seriesQuery.insertEmptyElement(key);
    std::vector<std::unique_ptr<Series>> seriesList;
    m_pacs->sendFindRequest(
        DicomPacsCommunication::StudyRoot, seriesQuery,
        [&seriesList](std::unique_ptr<DcmDataset> response) {
            response->convertToUTF8();
            seriesList.push_back(std::make_unique<Series>(nullptr, *response, false));
        },
        nullptr);

    const std::shared_ptr<const Patient> patientTemplate = std::make_shared<Patient>(*study->patient);
    const std::shared_ptr<const Study> studyTemplate = std::make_shared<Study>(*study);
    DRAVELIN_LOG(1, "DICOM", "Found " + std::to_string(seriesList.size()) + " series inside study");

    for (const auto& series : seriesList) {
        const std::shared_ptr<const Series> seriesTemplate = std::make_shared<Series>(*series);
        DcmDataset imageQuery;
        imageQuery.putAndInsertString(DCM_QueryRetrieveLevel, "IMAGE");
        imageQuery.putAndInsertString(DCM_StudyInstanceUID, studyUid.c_str());
        imageQuery.putAndInsertString(DCM_SeriesInstanceUID, series->seriesInstanceUid.toUtf8().constData());
        for (const DcmTagKey& key :
             {DCM_SOPInstanceUID, DCM_InstanceNumber, DCM_AcquisitionNumber, DCM_ImageType, DCM_Columns, DCM_Rows,
              DCM_SamplesPerPixel, DCM_BitsAllocated, DCM_NumberOfFrames, DCM_SliceThickness, DCM_ProtocolName,
              DCM_BodyPartExamined, DCM_Manufacturer, DCM_ManufacturerModelName, DCM_ImagePositionPatient,
              DCM_ImageOrientationPatient, DCM_PixelSpacing, DCM_SpacingBetweenSlices})
            imageQuery.insertEmptyElement(key);
        DcmItem* shared = nullptr;
        if (imageQuery.findOrCreateSequenceItem(DCM_SharedFunctionalGroupsSequence, shared, 0).good() && shared) {
            DcmItem* measures = nullptr;
            if (shared->findOrCreateSequenceItem(DCM_PixelMeasuresSequence, measures, 0).good() && measures) {
                measures->insertEmptyElement(DCM_PixelSpacing);
                measures->insertEmptyElement(DCM_SpacingBetweenSlices);
            }
        }
        const DicomPacsConfiguration config = m_pacs->connectionConfiguration();
        m_pacs->sendFindRequest(
            DicomPacsCommunication::StudyRoot, imageQuery,
            [this, patientTemplate, studyTemplate, seriesTemplate, config](std::unique_ptr<DcmDataset> response) {
                response->convertToUTF8();
                auto* patient = new Patient(*patientTemplate);
                auto* newStudy = new Study(*studyTemplate);
                newStudy->patient = patient;
                patient->studies.push_back(newStudy);
                auto* newSeries = new Series(*seriesTemplate);
                newSeries->study = newStudy;
                newStudy->series.push_back(newSeries);
                auto* image = new Image(newSeries, *response);
                newSeries->images.push_back(image);
                image->location = config.generateUri(*response);
                DRAVELIN_LOG(0, "DICOM", "Received image from PACS: " + image->location.string());
                addPatient(patient);
            },
            &m_cancel);
    }
    if (!m_cancel.load())
        removePacsProxy(proxy);
}

// --- DICOMweb ------------------------------------------------------------------------------

namespace {

// The attributes the records and the geometry estimate read beyond a server's default
// instance attributes, so that no per-instance metadata request is needed.
std::string webInstanceQuery()
{
    static const std::vector<std::pair<unsigned, unsigned>> tags = {
        {0x0008, 0x0008}, {0x0028, 0x0002}, {0x0018, 0x0050}, {0x0018, 0x1030}, {0x0008, 0x0070}, {0x0008, 0x1090},
        {0x0008, 0x0060}, {0x0008, 0x0031}, {0x0008, 0x0021}, {0x0008, 0x103E}, {0x0008, 0x0030}, {0x0008, 0x0020},
        {0x0008, 0x1030}, {0x0008, 0x0022}, {0x0020, 0x0032}, {0x0020, 0x0037}, {0x0028, 0x0030}, {0x0018, 0x0088}};
    std::string query;
    for (const auto& [group, element] : tags)
        query += (query.empty() ? "" : "&") + fmt::format("includefield={:04X}{:04X}", group, element);
    return query;
}

Filesystem::Url webInstanceLocation(DcmItem& instance, const Filesystem::Url& scanUrl)
{
    const auto text = [&](const DcmTagKey& tag) {
        return Element<std::string>(instance, DcmTag(tag), ElementBase::Optional, false).value(std::string());
    };
    const Filesystem::Url retrieve(text(DCM_RetrieveURL));
    if (!retrieve.isEmpty())
        return retrieve;
    Filesystem::Url built = scanUrl;
    built.setQuery({});
    built.setFragment({});
    built.setPath(scanUrl.path() + "/studies/" + text(DCM_StudyInstanceUID) + "/series/" + text(DCM_SeriesInstanceUID) +
                  "/instances/" + text(DCM_SOPInstanceUID));
    return built;
}

}  // namespace

std::optional<Network::HttpError> Scanner::scanWeb(const Filesystem::Url& givenUrl)
{
    QElapsedTimer timer;
    timer.start();
    // Credentials written into the URL are handed to the authorization provider (which the
    // retrievals of the images share), so that they never show in logs or image locations.
    Filesystem::Url url = givenUrl;
    if (!url.userInfo().empty()) {
        std::shared_ptr<Network::HttpAuthorizationProvider> provider = m_cache->authorizationProvider();
        if (!provider) {
            provider = std::make_shared<Network::HttpAuthorizationProvider>();
            m_cache->setAuthorizationProvider(provider);
        }
        provider->setBasic(url.userName(), url.password());
        url.setUserInfo({});
    }
    WebClient client(url);
    client.setAuthorizationProvider(m_cache->authorizationProvider());
    DRAVELIN_LOG(2, "", "Scanning " + client.baseUrl().string());

    Threading::ThreadPool pool(numberOfThreads());
    WebClient::Result studies = client.getStudies(url.query(), true);
    if (auto* error = std::get_if<Network::HttpError>(&studies))
        return *error;

    const std::string instanceQuery = webInstanceQuery();
    std::atomic<int> done{0};
    std::atomic<int> total{1};
    std::mutex errorMutex;
    std::vector<Network::HttpError> errors;
    const auto record = [&](const Network::HttpError& error) {
        std::lock_guard<std::mutex> lock(errorMutex);
        errors.push_back(error);
    };
    updateProgressText("Downloading studies");
    updateProgress(0, total);

    const auto seriesTask = [&](std::shared_ptr<DcmItem> series) {
        WebClient::Result instances = client.getInstances(*series, instanceQuery, false);
        if (auto* error = std::get_if<Network::HttpError>(&instances)) {
            record(*error);
            return;
        }
        const auto& items = std::get<WebClient::Items>(instances);
        total += static_cast<int>(items.size());
        for (const auto& instance : items) {
            auto* patient = new Patient(*instance, true);
            for (Study* study : patient->studies)
                for (Series* oneSeries : study->series)
                    for (Image* image : oneSeries->images)
                        image->location = webInstanceLocation(*instance, url);
            addPatient(patient);
            updateProgress(++done, total);
        }
    };
    const auto studyTask = [&](std::shared_ptr<DcmItem> study) {
        WebClient::Result series = client.getSeries(*study, "", true);
        if (auto* error = std::get_if<Network::HttpError>(&series)) {
            record(*error);
            return;
        }
        for (const auto& item : std::get<WebClient::Items>(series))
            pool.enqueue([&seriesTask, item] { seriesTask(item); });
    };
    for (const auto& study : std::get<WebClient::Items>(studies))
        pool.enqueue([&studyTask, study] { studyTask(study); });

    pool.waitUntilFinished();
    updateProgress(total, total);
    DRAVELIN_LOG(2, "", "Finished scanning in " + std::to_string(timer.elapsed()) + "ms");

    if (errors.empty())
        return std::nullopt;
    DRAVELIN_LOG(4, "",
                 "Scan did not finish successfully (first HTTP status: " + std::to_string(errors.front().code()) + ")");
    for (const auto& error : errors)
        DRAVELIN_LOG(1, "", error.message + " (" + std::to_string(error.code()) + ")");
    return errors.front();
}

}  // namespace Dravelin::Dicom
