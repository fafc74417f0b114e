#pragma once

#include <QJsonArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <ostream>

namespace Dravelin::Test {

struct CliResult
{
    int exitCode = -1;  // -1: did not finish in time, or crashed
    QString out;
    QString err;

    // The non-empty lines of standard output and standard error.
    QStringList outLines() const;
    QStringList errLines() const;
};

// Runs `dravelin-dicom ARGS...` and collects its exit status and output.
CliResult runCli(const QStringList& args, int timeoutMs = 120000);

// The same, with these variables added to (or replacing those of) the inherited environment.
CliResult runCli(const QStringList& args, const QMap<QString, QString>& environment, int timeoutMs = 120000);

// The same with the tool's address space capped at `addressSpace` bytes (setrlimit in the
// child), so that a command that balloons fails instead of taking the machine's memory. Not
// capped where AddressSpaceLimit::available() is false.
CliResult runCliLimited(const QStringList& args, std::size_t addressSpace, int timeoutMs = 120000);

// The "patients" array of a --json output; empty when the text is not such a document.
QJsonArray jsonPatients(const QString& out);

// Counts of a "patients" array, as the summary line gives them.
struct TreeCounts
{
    int patients = 0, studies = 0, series = 0, images = 0;
    bool operator==(const TreeCounts& o) const
    {
        return patients == o.patients && studies == o.studies && series == o.series && images == o.images;
    }
};
TreeCounts treeCounts(const QJsonArray& patients);
inline std::ostream& operator<<(std::ostream& out, const TreeCounts& c)
{
    return out << c.patients << " patients, " << c.studies << " studies, " << c.series << " series, " << c.images
               << " images";
}

// "studyUid|seriesUid|sopInstanceUid" for every image of a "patients" array: two trees of the
// same files compare equal whatever their locations. Sorted, or in the order of the array.
QStringList imageKeys(const QJsonArray& patients, bool sorted = true);

// The "patients" of `scan --json` over a copy of the PACS test corpus (pacsCorpusFiles()),
// what the server searches are compared with; empty when the copy fails.
QJsonArray diskScanOfPacsCorpus();

}  // namespace Dravelin::Test
