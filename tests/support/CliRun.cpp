#include "tests/support/CliRun.h"

#include "tests/support/AddressSpaceLimit.h"
#include "tests/support/PacsTestServer.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

#include <sys/resource.h>

namespace Dravelin::Test {

QStringList CliResult::outLines() const
{
    return out.split('\n', Qt::SkipEmptyParts);
}

QStringList CliResult::errLines() const
{
    return err.split('\n', Qt::SkipEmptyParts);
}

CliResult runCli(const QStringList& args, int timeoutMs)
{
    return runCli(args, {}, timeoutMs);
}

namespace {

class LimitedProcess : public QProcess
{
public:
    explicit LimitedProcess(std::size_t addressSpace) : m_addressSpace(addressSpace) {}

protected:
    void setupChildProcess() override
    {
        if (m_addressSpace == 0)
            return;
        const rlimit limit{m_addressSpace, m_addressSpace};
        ::setrlimit(RLIMIT_AS, &limit);
    }

private:
    std::size_t m_addressSpace;
};

CliResult run(const QStringList& args, const QMap<QString, QString>& environment, int timeoutMs,
              std::size_t addressSpace)
{
    LimitedProcess process(addressSpace);
    if (!environment.isEmpty()) {
        QProcessEnvironment merged = QProcessEnvironment::systemEnvironment();
        for (auto it = environment.begin(); it != environment.end(); ++it)
            merged.insert(it.key(), it.value());
        process.setProcessEnvironment(merged);
    }
    process.start(QStringLiteral(DRAVELIN_CLI_EXE), args);
    CliResult result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

}  // namespace

CliResult runCli(const QStringList& args, const QMap<QString, QString>& environment, int timeoutMs)
{
    return run(args, environment, timeoutMs, 0);
}

CliResult runCliLimited(const QStringList& args, std::size_t addressSpace, int timeoutMs)
{
    return run(args, {}, timeoutMs, AddressSpaceLimit::available() ? addressSpace : 0);
}

QJsonArray jsonPatients(const QString& out)
{
    return QJsonDocument::fromJson(out.toUtf8()).object().value("patients").toArray();
}

TreeCounts treeCounts(const QJsonArray& patients)
{
    TreeCounts counts;
    for (const QJsonValue& patient : patients) {
        ++counts.patients;
        for (const QJsonValue& study : patient["studies"].toArray()) {
            ++counts.studies;
            for (const QJsonValue& series : study["series"].toArray()) {
                ++counts.series;
                counts.images += series["images"].toArray().size();
            }
        }
    }
    return counts;
}

QStringList imageKeys(const QJsonArray& patients, bool sorted)
{
    QStringList keys;
    for (const QJsonValue& patient : patients)
        for (const QJsonValue& study : patient["studies"].toArray())
            for (const QJsonValue& series : study["series"].toArray())
                for (const QJsonValue& image : series["images"].toArray())
                    keys << study["studyInstanceUid"].toString() + '|' + series["seriesInstanceUid"].toString() + '|' +
                                image["sopInstanceUid"].toString();
    if (sorted)
        keys.sort();
    return keys;
}

QJsonArray diskScanOfPacsCorpus()
{
    const QStringList files = pacsCorpusFiles();
    TempDir dir;
    // Distinct names: corpus files of different folders share theirs.
    for (int i = 0; i < files.size(); ++i)
        if (!QFile::copy(files[i], dir.file(QString("f%1.dcm").arg(i))))
            return {};
    return jsonPatients(runCli({"scan", dir.path(), "--json"}).out);
}

}  // namespace Dravelin::Test
