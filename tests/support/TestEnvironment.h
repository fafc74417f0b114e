#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcitem.h>

#include <ostream>
#include <string>

namespace Dravelin::Test {

// Folder of Debian's pydicom sample files (test_files/, charset_files/).
QString pydicomData(const QString& relative = QString());

// A fresh temporary folder removed when the object goes away.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    QString path() const { return m_path; }
    QString file(const QString& name) const;

private:
    QString m_path;
};

// Runs the project's data generator (`dravelin-gen-data ARGS...`); true on exit status 0.
bool runGenerator(const QStringList& args);

// A whole file; empty when it cannot be read.
QByteArray readFile(const QString& path);
// Writes a whole file, creating its folder; false when that fails.
bool writeFile(const QString& path, const QByteArray& bytes);
// The files below `dir` (hidden ones too), relative to it and sorted.
QStringList filesUnder(const QString& dir);

// An attribute's values as DCMTK prints them, joined by "\"; empty when absent.
std::string text(DcmItem& item, const DcmTagKey& tag);
// The error lines DCMTK's IOD checker (dciodvfy) reports for a file; deflated files are checked
// through an explicit little endian copy, which dciodvfy can read.
std::string iodErrors(const QString& file, bool deflated = false);

// What a de-identified folder holds: its DICOM files (the run's journal aside), the distinct
// Patient IDs, studies and series among them, and the files that were not de-identified exactly
// once (not one 113100 item in DeidentificationMethodCodeSequence) or cannot be read.
struct DeidCounts
{
    int files = 0, patients = 0, studies = 0, series = 0, notOnce = 0;
    bool operator==(const DeidCounts& o) const
    {
        return files == o.files && patients == o.patients && studies == o.studies && series == o.series &&
               notOnce == o.notOnce;
    }
};
DeidCounts deidCounts(const QString& dir);
std::ostream& operator<<(std::ostream& out, const DeidCounts& c);

}  // namespace Dravelin::Test
