#pragma once

#include <QString>

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

}  // namespace Dravelin::Test
