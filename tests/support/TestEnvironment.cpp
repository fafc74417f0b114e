#include "tests/support/TestEnvironment.h"

#include "host/core/FileNameCodec.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSet>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>
#include <dcmtk/oflog/oflog.h>

namespace Dravelin::Test {

QString pydicomData(const QString& relative)
{
    return QDir(QStringLiteral(DRAVELIN_PYDICOM_DATA)).filePath(relative);
}

TempDir::TempDir()
{
    QTemporaryDir dir(QDir::tempPath() + "/dravelin-test-XXXXXX");
    dir.setAutoRemove(false);
    m_path = dir.path();
}

TempDir::~TempDir()
{
    if (!m_path.isEmpty())
        QDir(m_path).removeRecursively();
}

QString TempDir::file(const QString& name) const
{
    return QDir(m_path).filePath(name);
}

bool runGenerator(const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral(DRAVELIN_GEN_DATA_EXE), args);
    if (!p.waitForFinished(600000))
        return false;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList filesUnder(const QString& dir)
{
    QStringList files;
    for (QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
        files << QDir(dir).relativeFilePath(it.next());
    files.sort();
    return files;
}

std::string text(DcmItem& item, const DcmTagKey& tag)
{
    OFString value;
    item.findAndGetOFStringArray(tag, value);
    return value.c_str();
}

std::string iodErrors(const QString& file, bool deflated)
{
    QString checked = file;
    TempDir copy;
    if (deflated) {
        checked = copy.file("explicit.dcm");
        QProcess::execute("dcmconv", {"+te", file, checked});
    }
    QProcess dciodvfy;
    dciodvfy.start("dciodvfy", {checked});
    dciodvfy.waitForFinished(-1);
    std::string errors;
    for (const QString& line : QString::fromUtf8(dciodvfy.readAllStandardError()).split('\n'))
        if (line.contains("Error"))
            errors += line.toStdString() + "\n";
    return errors;
}

namespace {

// One QApplication for the whole test run (widgets need it, offscreen).
class QtEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
            const QString runtime = QDir::tempPath() + "/dravelin-test-runtime";
            QDir().mkpath(runtime);
            QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
        }
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
        static int argc = 1;
        static char name[] = "dravelin-tests";
        static char* argv[] = {name, nullptr};
        Dravelin::FileNameCodec::install();
        m_app = new QApplication(argc, argv);
        QCoreApplication::setOrganizationName("DravelinTests");
        QCoreApplication::setApplicationName("dravelin-tests");
    }
    void TearDown() override
    {
        delete m_app;
        m_app = nullptr;
    }

private:
    QApplication* m_app = nullptr;
};

[[maybe_unused]] ::testing::Environment* const g_qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
DeidCounts deidCounts(const QString& dir)
{
    DeidCounts counts;
    QSet<QString> patients, studies, series;
    for (const QString& name : filesUnder(dir)) {
        if (name == QLatin1String("UNFINISHED-DEIDENTIFICATION.journal"))
            continue;
        ++counts.files;
        DcmFileFormat file;
        if (file.loadFile(QFile::encodeName(QDir(dir).filePath(name)).constData()).bad()) {
            ++counts.notOnce;
            continue;
        }
        DcmDataset& d = *file.getDataset();
        patients.insert(QString::fromStdString(text(d, DCM_PatientID)));
        studies.insert(QString::fromStdString(text(d, DCM_StudyInstanceUID)));
        series.insert(QString::fromStdString(text(d, DCM_SeriesInstanceUID)));
        // 113100 once; options such as the Clean Pixel Data Option (113101) add codes of their own.
        int basic = 0;
        DcmItem* code = nullptr;
        for (int i = 0; d.findAndGetSequenceItem(DCM_DeidentificationMethodCodeSequence, code, i).good(); ++i)
            basic += text(*code, DCM_CodeValue) == "113100";
        if (basic != 1)
            ++counts.notOnce;
    }
    counts.patients = patients.size();
    counts.studies = studies.size();
    counts.series = series.size();
    return counts;
}

std::ostream& operator<<(std::ostream& out, const DeidCounts& c)
{
    return out << c.files << " files, " << c.patients << " patients, " << c.studies << " studies, " << c.series
               << " series, " << c.notOnce << " not de-identified once";
}

}  // namespace Dravelin::Test
